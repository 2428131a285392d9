// Removable volumes: listing them, and ejecting the unit behind one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvel::platform {

// Where the listing looks; tests point these at a fake tree.
struct volume_sources {
    std::string mountinfo = "/proc/self/mountinfo";
    std::string sysfs = "/sys";
    // Folders taken as volumes before the real ones (ORVELSYNC_VOLUMES), separated as the
    // system separates paths in a list: ":", or ";" on Windows.
    std::string simulated;
};

volume_sources default_volume_sources();
// Roots ending with the separator: the simulated volumes first, in the given order, then
// the mounted removable ones in a stable order. On Windows the drives that are removable or
// sit on USB and hold a medium, in the system's order; mountinfo and sysfs are not used
// there.
std::vector<std::string> removable_volumes(const volume_sources& sources);
std::vector<std::string> removable_volumes();

// The device number of the block device holding the root; -1 (logged) when there is none.
std::int64_t volume_device_number(const std::string& root);
// The disk that holds the root's block device (its sysfs name; on Windows its device
// instance ID); empty when none.
std::string disk_device_instance(const std::string& root);
std::string disk_device_instance(const std::string& root, const volume_sources& sources);
// Unmounts and powers off (or ejects) the disk of a mounted volume through the system's disk
// service, up to 3 tries; flushes a simulated one.
bool eject_volume(const std::string& root);
bool eject_volume(const std::string& root, const volume_sources& sources);

}  // namespace orvel::platform
