#include "devices/serial/comm_device.h"

#include "base/failures.h"
#include "base/log_hub.h"

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

bool CommDevice::exchange_reply(reply_reader& reader, const std::uint8_t* bytes, std::size_t count,
                                const exchange_rules& rules) {
    answered_ = collect_reply(port_, reader, interrupt_event_, bytes, count, rules);
    return answered_;
}

void CommDevice::exit_connection(const std::function<bool()>& send_exit) noexcept {
    if (!port_.is_open()) {
        return;
    }
    if (!answered_) {
        log(3, "Exiting connection skipped: the unit did not answer");
        return;
    }
    try {
        if (!send_exit()) {
            log(3, "Exiting connection failed.");
        }
    } catch (const extl_exception& e) {
        log(3, "Exiting connection failed: code %u", code_value(e.code()));
    } catch (const base_exception& e) {
        log(3, "Exiting connection failed: %s", e.message().c_str());
    } catch (const std::exception& e) {
        log(3, "Exiting connection failed: %s", e.what());
    }
}

bool CommDevice::is_open() {
    return port_.is_open();
}

}  // namespace orvel
