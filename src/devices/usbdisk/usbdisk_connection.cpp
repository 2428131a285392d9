#include "devices/usbdisk/usbdisk_connection.h"

#include <boost/filesystem/operations.hpp>

#include "base/failures.h"
#include "base/log_hub.h"
#include "platform/volumes.h"

namespace orvel {

namespace {

bool exists(const std::string& path) {
    boost::system::error_code error;
    return boost::filesystem::exists(path, error);
}

bool is_directory(const std::string& path) {
    boost::system::error_code error;
    return boost::filesystem::is_directory(path, error);
}

}  // namespace

USBDiskConnection::USBDiskConnection(std::unique_ptr<USBDiskDevice> owned,
                                     const connection_settings& settings,
                                     event_base& interrupt_event)
    : device_connection(std::move(owned), settings, interrupt_event) {}

bool USBDiskConnection::is_device_present() {
    return !find_device().empty();
}

bool USBDiskConnection::eject_needed() {
    return true;
}

std::string USBDiskConnection::device_location() {
    return find_device();
}

bool USBDiskConnection::open_device() {
    return disk().open(find_device());
}

void USBDiskConnection::close_device() {
    disk().close();
}

void USBDiskConnection::update_course(const std::string& courseCode) {
    const auto in_use = hold_device();
    device_connection::update_course(courseCode);
}

std::string USBDiskConnection::find_device() {
    const std::string marker = disk().identity();
    for (const std::string& root : platform::removable_volumes()) {
        if (is_directory(root) && exists(root + marker)) {
            return root;
        }
    }
    return std::string();
}

std::string USBDiskConnection::found_root() {
    const std::string root = find_device();
    if (!root.empty()) {
        return root;
    }
    const char* text = "Can't find file ";
    try {
        log(3, "%s%s", text, disk().identity().c_str());
    } catch (const intl_exception& e) {
        log(3, "%s\n%s\n", text, e.message().c_str());
    }
    raise_sync_error(sync_error_code::device_not_found);
}

void USBDiskConnection::eject() {
    const std::unique_lock<std::recursive_mutex> idle(device_in_use_, std::try_to_lock);
    if (!idle.owns_lock()) {
        // Closing the files would pull them from under the running write; ejecting with them
        // open would cut the write short on the unit.
        log(3, "Eject refused: an update is using the device");
        raise_sync_error(sync_error_code::eject_failed);
    }
    disk().close();
    const std::string root = found_root();
    bool ejected = false;
    try {
        ejected = platform::eject_volume(root);
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
    }
    if (!ejected) {
        raise_sync_error(sync_error_code::eject_failed);
    }
}

}  // namespace orvel
