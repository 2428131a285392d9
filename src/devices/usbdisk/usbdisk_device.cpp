#include "devices/usbdisk/usbdisk_device.h"

#include "base/failures.h"
#include "base/format.h"
#include "base/log_hub.h"
#include "devices/usbdisk/staged_file.h"

namespace orvel {

void write_all(stdio_file& file, const byte_vector& bytes) {
    const std::size_t written =
        bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file.handle());
    file.check(written != bytes.size(), "write");
}

void seek_from_start(stdio_file& file, std::uint64_t position) {
    file.check(std::fseek(file.handle(), static_cast<long>(position), SEEK_SET) != 0, "seek");
}

USBDiskDevice::~USBDiskDevice() {
    try {
        close();
    } catch (const base_exception& e) {
        log(3, "%s", e.message().c_str());
    }
}

bool USBDiskDevice::open(const std::string& root) {
    close();
    log(3, "Device %s\r\n", root.c_str());
    root_ = root;
    const std::string name = course_file_name();
    if (root.empty()) {
        // No volume was found: the bare name would open a file in the working directory and
        // the course would land there as if written to the unit.
        throw intl_exception("File (" + name + ") doesn't exist");
    }
    open_volume(root, name);
    course_file_.open(volume_, name, true, false);
    return is_open();
}

void USBDiskDevice::open_volume(const std::string& root, const std::string& first_file) {
    if (!volume_.open(root)) {
        throw intl_exception("File (" + root + first_file + ") doesn't exist");
    }
}

void USBDiskDevice::close() {
    root_.clear();
    volume_.close();
    course_file_.close();
}

bool USBDiskDevice::is_open() {
    return course_file_.is_open();
}

bool USBDiskDevice::write_course() {
    USBDiskCourse& record = course_response_.record;
    record.index -= 1;
    if (record.index < 0) {
        return false;
    }
    seek_course(record);
    write_all(course_file_, record.glf);
    course_file_.check(std::fflush(course_file_.handle()) != 0, "write");

    if (!record.glsData.empty()) {
        staged_file side_file(volume_, format_text("%u", record.id_course) + ".GLS");
        write_all(side_file.stream().file(), record.glsData);
        side_file.put_in_place();
    }
    return true;
}

void USBDiskDevice::check_course_data(std::uint32_t, byte_vector data) {
    data.clear();
    data.shrink_to_fit();
}

std::string USBDiskDevice::course_file_name() {
    return "EMBEDD01.GLF";
}

void USBDiskDevice::seek_course(course& record) {
    const std::uint64_t slot = static_cast<std::uint64_t>(record.glf.size());
    seek_from_start(course_file_, slot * static_cast<std::uint64_t>(record.index));
}

}  // namespace orvel
