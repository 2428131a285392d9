#include "devices/serial/comm_device.h"

#include "app/failures.h"
#include "app/log_hub.h"

namespace orvel {

CommDevice::~CommDevice() {
    port_.close();
}

bool CommDevice::open(const std::string& location) {
    if (!port_.open(location, baud_rate())) {
        throw intl_exception("Comm port open failed.");
    }
    if (!port_.set_timeouts(platform::serial_timeouts{})) {
        log(3, "setTimeouts failed");
    }
    // A port whose line settings did not take is still tried: the bridge keeps its own.
    if (!port_.set_line_settings()) {
        log(3, "setState failed");
    }
    return port_.is_open();
}

void CommDevice::close() {
    port_.close();
}

bool CommDevice::is_open() {
    return port_.is_open();
}

}  // namespace orvel
