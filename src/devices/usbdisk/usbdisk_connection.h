// The connection of every USB-disk model: finds the volume by its marker and drives the
// cloud operations on it.
#pragma once

#include <memory>

#include "devices/usbdisk/usbdisk_device.h"
#include "sync/device_connection.h"

namespace orvel {

class USBDiskConnection : public device_connection {
public:
    USBDiskConnection(std::unique_ptr<USBDiskDevice> owned, const connection_settings& settings,
                      event_base& interrupt_event);

    bool is_device_present() override;
    bool eject_needed() override;
    std::string device_location() override;
    bool open_device() override;
    void close_device() override;
    void full_update() override;
    void restore_device() override;
    void eject() override;
    // The first removable volume, in listing order, that holds the model's marker.
    std::string find_device() override;
    // Whether the full update carries score files ("SP/") and article files.
    virtual bool uses_sp_files() = 0;
    virtual bool uses_nar_files() = 0;

protected:
    // The constructor only takes a USBDiskDevice, so the owned device is one.
    USBDiskDevice& disk() { return static_cast<USBDiskDevice&>(owned_device()); }
};

}  // namespace orvel
