// The JTC volume model: a unit that keeps one file per course.
#pragma once

#include "devices/usbdisk/usbdisk_device.h"

namespace orvel {

// Keeps one file per course, "KVINC000.GLF" to "KVINC099.GLF", chosen by the course name
// stored in bytes 10-99 of each file.
class JTCDevice : public USBDiskDevice {
public:
    using USBDiskDevice::USBDiskDevice;
    // No course file is opened: the course chooses its own.
    bool open(const std::string& root) override;
    std::string setup_file_name() override;
    void seek_course(course& record) override;
    virtual bool is_ready();
    virtual bool write_course_file(course& record);
};

}  // namespace orvel
