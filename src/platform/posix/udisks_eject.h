// One request to the disk service to unmount a disk's file systems and power it off.
#pragma once

#include <cstdint>
#include <string>

namespace orvel::platform {

// Why a request did not go through.
struct eject_refusal {
    // The errno the service's error maps to.
    int error = 0;
    // The step that was refused, standing in for a veto type: 0 before any request
    // (no bus, no service, no drive), 1 an unmount, 2 the power-off or eject.
    unsigned step = 0;
    // The D-Bus error name; the system's text when there was no D-Bus error.
    std::string name;
};

// The disk is named by its block device number. True when the drive has gone.
bool request_disk_eject(std::uint64_t disk_number, eject_refusal& refusal);

}  // namespace orvel::platform
