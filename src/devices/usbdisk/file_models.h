// The USB-disk models that take their courses as GLF course files: ZelPlus, JTCPlus, JTC,
// and the Brevanto volume model (KM3).
#pragma once

#include <memory>

#include "devices/usbdisk/usbdisk_connection.h"
#include "devices/usbdisk/usbdisk_device.h"

namespace orvel {

inline constexpr const char* system_registry_marker = "SYSREG.SMI";

class ZelPlusDevice : public USBDiskDevice {
public:
    using USBDiskDevice::USBDiskDevice;
    std::string identity() override { return system_registry_marker; }
    std::string setup_file_name() override { return "SETUP.SMI"; }
};

class JTCPlusDevice : public USBDiskDevice {
public:
    using USBDiskDevice::USBDiskDevice;
    std::string identity() override { return system_registry_marker; }
    std::string setup_file_name() override { return "SETUP.SMI"; }
};

// Keeps one file per course, "KVINC000.GLF" to "KVINC099.GLF", chosen by the course name
// stored in bytes 10-99 of each file.
class JTCDevice : public USBDiskDevice {
public:
    using USBDiskDevice::USBDiskDevice;
    std::string identity() override { return system_registry_marker; }
    // No course file is opened: the course chooses its own.
    bool open(const std::string& root) override;
    std::string setup_file_name() override;
    void seek_course(course& record) override;
    virtual bool is_ready();
    virtual bool write_course_file(course& record);
};

class BrevantoDevice : public USBDiskDevice {
public:
    using USBDiskDevice::USBDiskDevice;
    std::string identity() override { return "Brevanto.exe"; }
    std::string setup_file_name() override { return "SETUP.KM3"; }
    // The unit's own first 29 bytes of its set-up file are never replaced.
    std::uint32_t setup_file_offset() override { return 29; }
};

// A file model's connection: its model text and the switches of its full update.
template <typename Device>
class file_model_connection : public USBDiskConnection {
public:
    file_model_connection(const char* model, bool sp_files, bool nar_files,
                          const connection_settings& settings, event_base& interrupt_event)
        : USBDiskConnection(std::make_unique<Device>(interrupt_event), settings, interrupt_event),
          model_(model),
          sp_files_(sp_files),
          nar_files_(nar_files) {}

    std::string model_name() override { return model_; }
    bool uses_sp_files() override { return sp_files_; }
    bool uses_nar_files() override { return nar_files_; }

private:
    const char* model_;
    bool sp_files_;
    bool nar_files_;
};

class ZelPlusConnection : public file_model_connection<ZelPlusDevice> {
public:
    ZelPlusConnection(const connection_settings& settings, event_base& interrupt_event)
        : file_model_connection("ZelPlus", false, false, settings, interrupt_event) {}
};

class JTCPlusConnection : public file_model_connection<JTCPlusDevice> {
public:
    JTCPlusConnection(const connection_settings& settings, event_base& interrupt_event)
        : file_model_connection("JTCPlus", true, true, settings, interrupt_event) {}
};

class JTCConnection : public file_model_connection<JTCDevice> {
public:
    JTCConnection(const connection_settings& settings, event_base& interrupt_event)
        : file_model_connection("JTC", true, true, settings, interrupt_event) {}
};

class BrevantoConnection : public file_model_connection<BrevantoDevice> {
public:
    BrevantoConnection(const connection_settings& settings, event_base& interrupt_event)
        : file_model_connection("KM3", true, false, settings, interrupt_event) {}
};

}  // namespace orvel
