#include "devices/device_connection.h"

namespace orvel {

device_connection::device_connection(std::unique_ptr<device> owned,
                                     const connection_settings& settings,
                                     event_base& interrupt_event)
    : device_(std::move(owned)), settings_(settings), interrupt_event_(interrupt_event) {}

device_connection::~device_connection() = default;

bool device_connection::is_device_present() {
    return !find_device().empty();
}

bool device_connection::eject_needed() {
    return false;
}

std::string device_connection::device_location() {
    return find_device();
}

void device_connection::close_device() {
    device_->close();
}

void device_connection::full_update() {}

void device_connection::restore_device() {}

void device_connection::eject() {}

}  // namespace orvel
