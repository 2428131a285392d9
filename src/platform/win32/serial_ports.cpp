#include "platform/serial_ports.h"

#include <windows.h>
// setupapi.h needs windows.h first.
#include <setupapi.h>

#include "platform/win32/handles.h"

namespace orvel::platform {

namespace {

// GUID_DEVINTERFACE_COMPORT: the interface every COM port's driver offers.
const GUID comport_interface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

bool read_property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property, std::string& text) {
    char buffer[512] = {};
    if (::SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr,
                                            reinterpret_cast<BYTE*>(buffer), sizeof buffer - 1,
                                            nullptr) == FALSE) {
        return false;
    }
    text = buffer;
    return true;
}

// The port name the system gave the device ("COM7"), from its registry key; empty when it
// has none.
std::string port_name(HDEVINFO set, SP_DEVINFO_DATA& device) {
    const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    char buffer[64] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    const LONG read =
        ::RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? std::string(buffer) : std::string();
}

std::vector<serial_port_entry> present_ports() {
    std::vector<serial_port_entry> ports;
    const auto_devinfo set(::SetupDiGetClassDevsA(&comport_interface, nullptr, nullptr,
                                                  DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.valid()) {
        return ports;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (::SetupDiEnumDeviceInfo(set.get(), index, &device) == FALSE) {
            break;  // ERROR_NO_MORE_ITEMS, or a set that cannot be read further
        }
        std::string friendly;
        std::string description;
        // Only a port whose driver describes it completely is listed. "\\.\" opens every
        // COM port, also those above COM9.
        const std::string port = port_name(set.get(), device);
        if (read_property(set.get(), device, SPDRP_FRIENDLYNAME, friendly) &&
            read_property(set.get(), device, SPDRP_DEVICEDESC, description) && !port.empty()) {
            ports.push_back({friendly, port_path_prefix() + port});
        }
    }
    return ports;
}

}  // namespace

// A COM device path is no file to look for: a simulated port is listed as given.
bool simulated_device_present(const std::string&) {
    return true;
}

const char* port_path_prefix() {
    return "\\\\.\\";
}

std::vector<serial_port_entry> present_serial_ports(const serial_port_sources&) {
    return present_ports();
}

}  // namespace orvel::platform
