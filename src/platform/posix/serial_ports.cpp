#include "platform/serial_ports.h"

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <cstdlib>
#include <fstream>

namespace orvel::platform {

namespace fs = boost::filesystem;

namespace {

std::string file_line(const fs::path& file) {
    std::ifstream in(file.string());
    std::string line;
    std::getline(in, line);
    return line;
}

// The USB device a port hangs from: the nearest folder above it that carries a vendor id.
// Empty for ports that are not on USB (built-in UARTs, virtual terminals).
fs::path usb_device_of(const fs::path& device, const fs::path& sysfs) {
    boost::system::error_code ec;
    for (fs::path at = device; !at.empty() && at != sysfs; at = at.parent_path()) {
        if (fs::exists(at / "idVendor", ec)) {
            return at;
        }
    }
    return fs::path();
}

std::string friendly_name(const std::string& driver, const fs::path& usb_device) {
    if (driver == "cp210x") {
        return "Silicon Labs CP210x USB to UART Bridge";
    }
    if (driver == "pl2303") {
        return "Prolific USB-to-Serial Comm Port";
    }
    const std::string product = file_line(usb_device / "product");
    return product.empty() ? driver : product;
}

// ttyUSB2 before ttyUSB10: the name without its number first, then the number.
std::pair<std::string, unsigned long> order_of(const std::string& tty) {
    const std::size_t digits = tty.find_last_not_of("0123456789") + 1;
    return {tty.substr(0, digits), std::strtoul(tty.c_str() + digits, nullptr, 10)};
}

std::vector<serial_port_entry> usb_serial_ports(const std::string& sysfs_root) {
    boost::system::error_code ec;
    const fs::path sysfs = fs::canonical(sysfs_root, ec);
    if (ec) {
        return {};
    }
    std::vector<serial_port_entry> ports;
    for (fs::directory_iterator it(sysfs / "class" / "tty", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string tty = it->path().filename().string();
        // USB serial drivers name their ports ttyUSB<n> (the bridges) or ttyACM<n>. Going
        // by the name first spares the presence poll a look into the device of every
        // virtual terminal, which costs far more than listing them.
        if (tty.rfind("ttyUSB", 0) != 0 && tty.rfind("ttyACM", 0) != 0) {
            continue;
        }
        boost::system::error_code link_ec;
        const fs::path device = fs::canonical(it->path() / "device", link_ec);
        if (link_ec) {
            continue;
        }
        const fs::path usb_device = usb_device_of(device, sysfs);
        if (usb_device.empty()) {
            continue;
        }
        // Only the link's last part counts, so a recorded tree need not hold the drivers.
        const fs::path driver = fs::read_symlink(device / "driver", link_ec);
        // The node the kernel names after the port, whatever the product string says.
        ports.push_back({friendly_name(driver.filename().string(), usb_device), "/dev/" + tty});
    }
    std::sort(ports.begin(), ports.end(),
              [](const auto& a, const auto& b) { return order_of(a.device) < order_of(b.device); });
    return ports;
}

}  // namespace

// Any absolute path: simulated units stand wherever their folder is.
const char* port_path_prefix() {
    return "/";
}

bool simulated_device_present(const std::string& device) {
    boost::system::error_code ec;
    return fs::exists(device, ec);
}

std::vector<serial_port_entry> present_serial_ports(const serial_port_sources& sources) {
    return usb_serial_ports(sources.sysfs);
}

}  // namespace orvel::platform
