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

// What a port's device path begins with: "/" (simulated units stand in any folder), or
// "\\.\" on Windows (as in "\\.\COM7").
const char* port_path_prefix();
serial_port_sources default_serial_port_sources();
// Whether a simulated port's device path is there; an entry whose device is gone is left
// out, as an unplugged bridge is, so a simulated unit is unplugged by taking its path away.
bool simulated_device_present(const std::string& device);
// "<friendly name> (<device path>)": the simulated ports first, in the given order, then
// the USB serial ports ordered by device name, numbers compared as numbers. A bridge's
// friendly name comes from its driver ("Silicon Labs CP210x USB to UART Bridge",
// "Prolific USB-to-Serial Comm Port"), else from the USB product string. On Windows the
// present COM ports in the system's order, by the friendly names their drivers give,
// "(COM7)" becoming "(\\.\COM7)"; the sysfs source is not used there.
std::vector<std::string> serial_port_names(const serial_port_sources& sources);
std::vector<std::string> serial_port_names();
// The ports the system has, without the simulated ones; the systems' own part of the list.
std::vector<std::string> present_serial_ports(const serial_port_sources& sources);

}  // namespace orvel::platform
