#include "platform/volumes.h"

#include <windows.h>
// The device headers need windows.h first.
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include "base/log_hub.h"
#include "platform/system_error.h"
#include "platform/win32/handles.h"

namespace orvel::platform {

namespace {

// GUID_DEVINTERFACE_DISK
const GUID disk_interface = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

std::string with_separator(std::string root) {
    if (root.empty() || (root.back() != '\\' && root.back() != '/')) {
        root += '\\';
    }
    return root;
}

std::vector<std::string> simulated_roots(const std::string& list) {
    std::vector<std::string> roots;
    std::istringstream pieces(list);
    std::string piece;
    while (std::getline(pieces, piece, ';')) {
        if (!piece.empty()) {
            roots.push_back(with_separator(piece));
        }
    }
    return roots;
}

// A drive without a medium (an empty card reader) must fail at once, not ask the user to
// insert one; the mode is the calling thread's, for the time of one listing.
class quiet_drive_errors {
public:
    quiet_drive_errors() {
        ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_);
    }
    ~quiet_drive_errors() { ::SetThreadErrorMode(previous_, nullptr); }
    quiet_drive_errors(const quiet_drive_errors&) = delete;
    quiet_drive_errors& operator=(const quiet_drive_errors&) = delete;

private:
    DWORD previous_ = 0;
};

// "\\.\E:" for "E:\": the device of the volume.
std::string volume_device(const std::string& root) {
    std::string name = root;
    if (!name.empty() && (name.back() == '\\' || name.back() == '/')) {
        name.pop_back();
    }
    return "\\\\.\\" + name;
}

auto_handle open_device(const std::string& path) {
    return auto_handle(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
}

// Some units report a fixed medium although they hang on a USB port.
bool on_usb(const std::string& root) {
    const auto_handle device = open_device(volume_device(root));
    if (!device.valid()) {
        return false;
    }
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_DEVICE_DESCRIPTOR descriptor{};
    DWORD returned = 0;
    return ::DeviceIoControl(device.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                             &descriptor, sizeof descriptor, &returned, nullptr) != FALSE &&
           returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof descriptor.BusType &&
           descriptor.BusType == BusTypeUsb;
}

bool holds_medium(const std::string& root) {
    return ::GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                                   0) != FALSE;
}

bool storage_device_number(HANDLE device, STORAGE_DEVICE_NUMBER& number) {
    DWORD returned = 0;
    return ::DeviceIoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                             sizeof number, &returned, nullptr) != FALSE;
}

// The device-manager node of the disk that holds the volume; 0 when none.
DEVINST disk_instance(const std::string& root) {
    const std::int64_t wanted = volume_device_number(root);
    if (wanted < 0) {
        return 0;
    }
    const auto_devinfo disks(::SetupDiGetClassDevsA(&disk_interface, nullptr, nullptr,
                                                    DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!disks.valid()) {
        log_system_error("SetupDiGetClassDevs ");
        return 0;
    }
    std::vector<char> detail(2048);
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interface_data{};
        interface_data.cbSize = sizeof interface_data;
        if (::SetupDiEnumDeviceInterfaces(disks.get(), nullptr, &disk_interface, index,
                                          &interface_data) == FALSE) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_NO_MORE_ITEMS) {
                log_system_error("SetupDiEnumDeviceInterfaces ", static_cast<int>(error));
            }
            return 0;
        }
        DWORD needed = 0;
        if (::SetupDiGetDeviceInterfaceDetailA(disks.get(), &interface_data, nullptr, 0, &needed,
                                               nullptr) != FALSE ||
            ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            log_system_error("SetupDiGetDeviceInterfaceDetail ");
            return 0;
        }
        // Sized by the call: a long device path must not end the search.
        detail.assign(std::max<std::size_t>(needed, detail.size()), 0);
        auto* path = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail.data());
        path->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (::SetupDiGetDeviceInterfaceDetailA(disks.get(), &interface_data, path,
                                               static_cast<DWORD>(detail.size()), nullptr,
                                               &device) == FALSE) {
            log_system_error("SetupDiGetDeviceInterfaceDetail ");
            continue;
        }
        const auto_handle disk = open_device(path->DevicePath);
        if (!disk.valid()) {
            log_system_error("CreateFile ");
            continue;
        }
        STORAGE_DEVICE_NUMBER number{};
        if (!storage_device_number(disk.get(), number)) {
            log_system_error("IOCTL_STORAGE_GET_DEVICE_NUMBER ");
            continue;
        }
        if (static_cast<std::int64_t>(number.DeviceNumber) == wanted) {
            return device.DevInst;
        }
    }
}

}  // namespace

volume_sources default_volume_sources() {
    volume_sources sources;
    const char* simulated = std::getenv("ORVELSYNC_VOLUMES");
    sources.simulated = simulated != nullptr ? simulated : "";
    return sources;
}

std::vector<std::string> removable_volumes(const volume_sources& sources) {
    std::vector<std::string> roots = simulated_roots(sources.simulated);
    const quiet_drive_errors quiet;
    char drives[MAX_PATH] = {};
    const DWORD length = ::GetLogicalDriveStringsA(sizeof drives - 1, drives);
    if (length == 0 || length >= sizeof drives) {
        return roots;
    }
    for (const char* root = drives; *root != '\0'; root += std::strlen(root) + 1) {
        const UINT type = ::GetDriveTypeA(root);
        if ((type == DRIVE_REMOVABLE || (type == DRIVE_FIXED && on_usb(root))) &&
            holds_medium(root)) {
            roots.emplace_back(root);
        }
    }
    return roots;
}

std::vector<std::string> removable_volumes() {
    return removable_volumes(default_volume_sources());
}

std::int64_t volume_device_number(const std::string& root) {
    const auto_handle volume = open_device(volume_device(root));
    if (!volume.valid()) {
        log_system_error("CreateFile ");
        return -1;
    }
    STORAGE_DEVICE_NUMBER number{};
    if (!storage_device_number(volume.get(), number)) {
        log_system_error("IOCTL_STORAGE_GET_DEVICE_NUMBER ");
        return -1;
    }
    return static_cast<std::int64_t>(number.DeviceNumber);
}

std::string disk_device_instance(const std::string& root, const volume_sources&) {
    const DEVINST disk = disk_instance(root);
    if (disk == 0) {
        return {};
    }
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (::CM_Get_Device_IDA(disk, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
        return {};
    }
    return id;
}

std::string disk_device_instance(const std::string& root) {
    return disk_device_instance(root, default_volume_sources());
}

bool eject_volume(const std::string& root, const volume_sources& sources) {
    const std::vector<std::string> simulated = simulated_roots(sources.simulated);
    if (std::find(simulated.begin(), simulated.end(), with_separator(root)) != simulated.end()) {
        // A folder attached as a volume has no drive to eject.
        return true;
    }
    const DEVINST disk = disk_instance(root);
    if (disk == 0) {
        return false;
    }
    // The eject goes to the USB device that carries the disk.
    DEVINST parent = 0;
    const CONFIGRET found = ::CM_Get_Parent(&parent, disk, 0);
    if (found != CR_SUCCESS) {
        log(3, "CM_Get_Parent failed: %u", static_cast<unsigned>(found));
        return false;
    }
    // The system may still be busy with the volume just after the last file was closed.
    constexpr int tries = 3;
    constexpr auto pause = std::chrono::milliseconds(500);
    CONFIGRET result = CR_SUCCESS;
    PNP_VETO_TYPE veto = PNP_VetoTypeUnknown;
    char veto_name[MAX_PATH] = {};
    for (int attempt = 1; attempt <= tries; ++attempt) {
        veto = PNP_VetoTypeUnknown;
        veto_name[0] = '\0';
        result = ::CM_Request_Device_EjectA(parent, &veto, veto_name, MAX_PATH, 0);
        if (result == CR_SUCCESS && veto == PNP_VetoTypeUnknown) {
            return true;
        }
        if (attempt < tries) {
            std::this_thread::sleep_for(pause);
        }
    }
    log(3, "CM_Request_Device_Eject failed: %u %u %s", static_cast<unsigned>(result),
        static_cast<unsigned>(veto), veto_name);
    return false;
}

bool eject_volume(const std::string& root) {
    return eject_volume(root, default_volume_sources());
}

}  // namespace orvel::platform
