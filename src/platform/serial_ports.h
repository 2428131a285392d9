// The serial ports present, by the friendly names under which the units' bridges show.
#pragma once

#include <string>
#include <vector>

namespace orvel::platform {

// Where the listing looks; tests point these at a recorded tree.
struct serial_port_sources {
    std::string sysfs = "/sys";
    // ";"-separated friendly names, each ending in its device path in parentheses, taken
    // as ports before the real ones (ORVELSYNC_SERIAL_PORTS).
    std::string simulated;
};

serial_port_sources default_serial_port_sources();
// "<friendly name> (<device path>)": the simulated ports first, in the given order, then
// the USB serial ports ordered by device name, numbers compared as numbers. A bridge's
// friendly name comes from its driver ("Silicon Labs CP210x USB to UART Bridge",
// "Prolific USB-to-Serial Comm Port"), else from the USB product string.
std::vector<std::string> serial_port_names(const serial_port_sources& sources);
std::vector<std::string> serial_port_names();

}  // namespace orvel::platform
