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

// One port: the name its bridge shows and the device that opens it. The device comes from
// the system (the port's own node, the COM name the system gave it), never from a text
// the bridge reports about itself, so a bridge cannot send the agent to another device.
struct serial_port_entry {
    std::string name;
    std::string device;
};

// What a port's device path begins with: "/" (a real port is below /dev/, a simulated one
// may stand anywhere), or "\\.\" on Windows (as in "\\.\COM7").
const char* port_path_prefix();
serial_port_sources default_serial_port_sources();
// Whether a simulated port's device path is there; an entry whose device is gone is left
// out, as an unplugged bridge is, so a simulated unit is unplugged by taking its path away.
bool simulated_device_present(const std::string& device);
// The simulated ports first, in the given order, then the USB serial ports ordered by
// device name, numbers compared as numbers. A bridge's name comes from its driver ("Silicon
// Labs CP210x USB to UART Bridge", "Prolific USB-to-Serial Comm Port"), else from the USB
// product string; its device is /dev/ and the port's name in sysfs. On Windows the present
// COM ports in the system's order, by the friendly names their drivers give, each with
// "\\.\" and the port name the system keeps for it; the sysfs source is not used there.
std::vector<serial_port_entry> serial_ports(const serial_port_sources& sources);
std::vector<serial_port_entry> serial_ports();
// The ports the system has, without the simulated ones; the systems' own part of the list.
std::vector<serial_port_entry> present_serial_ports(const serial_port_sources& sources);

}  // namespace orvel::platform
