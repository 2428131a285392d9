// A unit model as the command loop sees it: the member's settings and the owned device.
#pragma once

#include <memory>
#include <string>

#include "base/events.h"
#include "cloud/connection_settings.h"
#include "devices/device.h"

namespace orvel {

class device_connection {
public:
    device_connection(std::unique_ptr<device> owned, const connection_settings& settings,
                      event_base& interrupt_event);
    virtual ~device_connection();

    device_connection(const device_connection&) = delete;
    device_connection& operator=(const device_connection&) = delete;

    virtual bool is_device_present();
    virtual bool eject_needed();
    virtual std::string device_location();
    virtual bool open_device() = 0;
    virtual void close_device();
    virtual void full_update();
    virtual void restore_device();
    // Downloads the course and writes it to the unit; repairs a sync-index mismatch once
    // in the life of the process.
    virtual void update_course(const std::string& courseCode);
    virtual void eject();
    virtual std::string model_name() = 0;
    // Empty when the unit is absent.
    virtual std::string find_device() = 0;

    const connection_settings& settings() const { return settings_; }

protected:
    device& owned_device() { return *device_; }
    event_base& interrupt_event() { return interrupt_event_; }

private:
    std::unique_ptr<device> device_;
    connection_settings settings_;
    event_base& interrupt_event_;
};

// Sync-index repairs so far in this process; only the first mismatch is repaired.
int& sync_index_repairs();

}  // namespace orvel
