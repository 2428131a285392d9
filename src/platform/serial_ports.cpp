#include "platform/serial_ports.h"

#include <cstdlib>
#include <sstream>

namespace orvel::platform {

namespace {

// The device path in the entry's last parentheses; empty when it has none.
std::string device_of(const std::string& entry) {
    const std::size_t open = entry.rfind('(');
    const std::size_t close = entry.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return std::string();
    }
    return entry.substr(open + 1, close - open - 1);
}

std::vector<std::string> simulated_ports(const std::string& list) {
    std::vector<std::string> names;
    std::istringstream pieces(list);
    std::string piece;
    while (std::getline(pieces, piece, ';')) {
        if (!piece.empty() && simulated_device_present(device_of(piece))) {
            names.push_back(piece);
        }
    }
    return names;
}

}  // namespace

serial_port_sources default_serial_port_sources() {
    serial_port_sources sources;
    const char* simulated = std::getenv("ORVELSYNC_SERIAL_PORTS");
    sources.simulated = simulated != nullptr ? simulated : "";
    return sources;
}

std::vector<std::string> serial_port_names(const serial_port_sources& sources) {
    std::vector<std::string> names = simulated_ports(sources.simulated);
    const std::vector<std::string> present = present_serial_ports(sources);
    names.insert(names.end(), present.begin(), present.end());
    return names;
}

std::vector<std::string> serial_port_names() {
    return serial_port_names(default_serial_port_sources());
}

}  // namespace orvel::platform
