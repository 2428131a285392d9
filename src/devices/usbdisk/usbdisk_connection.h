// The connection of every USB-disk model: finds the volume by its marker and drives the
// cloud operations on it.
#pragma once

#include <memory>
#include <mutex>

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
    void update_course(const std::string& courseCode) override;
    // Refused with 1700 while an update uses the unit's files.
    void eject() override;
    // The first removable volume, in listing order, that holds the model's marker.
    std::string find_device() override;
    // Whether the full update carries score files ("SP/") and article files.
    virtual bool uses_sp_files() = 0;
    virtual bool uses_nar_files() = 0;

protected:
    // The constructor only takes a USBDiskDevice, so the owned device is one.
    USBDiskDevice& disk() { return static_cast<USBDiskDevice&>(owned_device()); }

    // Held by the update thread for as long as an operation uses the unit's files, so that
    // "EjectDevice", which runs on the command loop thread even then, never closes them under
    // it. Recursive: a model that extends an operation may hold it around the base one too.
    std::unique_lock<std::recursive_mutex> hold_device() {
        return std::unique_lock<std::recursive_mutex>(device_in_use_);
    }

private:
    std::recursive_mutex device_in_use_;
};

}  // namespace orvel
