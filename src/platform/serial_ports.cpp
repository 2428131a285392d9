#include "platform/serial_ports.h"

#include <cstdlib>
#include <sstream>

namespace orvel::platform {

namespace {

// "<name> (<device path>)": the device in the entry's last parentheses. An entry without
// them has no device.
serial_port_entry simulated_entry(const std::string& text) {
    const std::size_t open = text.rfind('(');
    const std::size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return {text, std::string()};
    }
    std::string name = text.substr(0, open);
    while (!name.empty() && name.back() == ' ') {
        name.pop_back();
    }
    return {name, text.substr(open + 1, close - open - 1)};
}

std::vector<serial_port_entry> simulated_ports(const std::string& list) {
    std::vector<serial_port_entry> ports;
    std::istringstream pieces(list);
    std::string piece;
    while (std::getline(pieces, piece, ';')) {
        if (piece.empty()) {
            continue;
        }
        serial_port_entry port = simulated_entry(piece);
        if (!port.device.empty() && simulated_device_present(port.device)) {
            ports.push_back(std::move(port));
        }
    }
    return ports;
}

}  // namespace

serial_port_sources default_serial_port_sources() {
    serial_port_sources sources;
    const char* simulated = std::getenv("ORVELSYNC_SERIAL_PORTS");
    sources.simulated = simulated != nullptr ? simulated : "";
    return sources;
}

std::vector<serial_port_entry> serial_ports(const serial_port_sources& sources) {
    std::vector<serial_port_entry> ports = simulated_ports(sources.simulated);
    std::vector<serial_port_entry> present = present_serial_ports(sources);
    ports.insert(ports.end(), present.begin(), present.end());
    return ports;
}

std::vector<serial_port_entry> serial_ports() {
    return serial_ports(default_serial_port_sources());
}

}  // namespace orvel::platform
