#include "devices/serial/comm_connection.h"

#include "app/log_hub.h"
#include "platform/serial_ports.h"

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

std::string CommConnection::find_device() {
    return find_port(platform::serial_port_names(), owned_device().identity());
}

std::string find_port(const std::vector<std::string>& names, const std::string& identity) {
    for (const std::string& name : names) {
        const std::size_t bridge = name.find(identity);
        if (bridge == std::string::npos) {
            continue;
        }
        const std::size_t open = name.find("(/", bridge + identity.size());
        if (open == std::string::npos) {
            continue;
        }
        const std::size_t close = name.find(')', open);
        if (close != std::string::npos) {
            return name.substr(open + 1, close - open - 1);
        }
    }
    return std::string();
}

}  // namespace orvel
