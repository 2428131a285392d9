#include "devices/serial/comm_connection.h"

#include "base/log_hub.h"
#include "platform/serial_ports.h"

namespace orvel {

CommConnection::CommConnection(std::unique_ptr<CommDevice> owned, const model_row& row,
                               const connection_settings& settings, event_base& interrupt_event)
    : device_connection(std::move(owned), settings, interrupt_event), row_(row) {}

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
    return find_port(platform::serial_ports(), owned_device().identity());
}

std::string find_port(const std::vector<platform::serial_port_entry>& ports,
                      const std::string& identity) {
    for (const platform::serial_port_entry& port : ports) {
        if (port.name.find(identity) != std::string::npos &&
            port.device.rfind(platform::port_path_prefix(), 0) == 0) {
            return port.device;
        }
    }
    return std::string();
}

}  // namespace orvel
