#include "devices/serial/comm_connection.h"

#include "app/log_hub.h"

namespace orvel {

CommConnection::CommConnection(std::unique_ptr<CommDevice> owned,
                               const connection_settings& settings, event_base& interrupt_event)
    : device_connection(std::move(owned), settings, interrupt_event) {}

bool CommConnection::open_device() {
    const std::string port = find_device();
    if (port.empty()) {
        log(3, "Device not found");
        return false;
    }
    log(3, "Serial port device: %s", port.c_str());
    return owned_device().open(port);
}

// Port discovery by bridge name is not built yet, so no serial unit is ever found.
std::string CommConnection::find_device() {
    return std::string();
}

}  // namespace orvel
