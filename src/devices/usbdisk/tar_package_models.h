// The USB-disk models whose course library is a folder tree unpacked from a tar package:
// Nebro, Uzo, Prang, Morvane, Caltor2, Uzo2 and Quorvanda.
#pragma once

#include <memory>

#include "devices/usbdisk/nebro_device.h"
#include "devices/usbdisk/usbdisk_connection.h"

namespace orvel {

// Takes only courses made for its set-up type: the byte "uzo.setup" starts with.
class uzo_device : public nebro_device {
public:
    explicit uzo_device(event_base& interrupt_event);

    // 201 when the set-up byte cannot be read.
    bool open(const std::string& root) override;
    // 604 unless the course's setupType is that byte.
    bool write_course() override;

private:
    char setup_byte_ = 0;
};

// Keeps no course-name records.
class prang_device : public nebro_device {
public:
    explicit prang_device(event_base& interrupt_event);

    bool write_course_name(course& record) override;

protected:
    prang_device(event_base& interrupt_event, const tar_package_model& model)
        : nebro_device(interrupt_event, model) {}
};

class morvane_device : public prang_device {
public:
    explicit morvane_device(event_base& interrupt_event);
};

class caltor2_device : public prang_device {
public:
    explicit caltor2_device(event_base& interrupt_event);
};

class uzo2_device : public prang_device {
public:
    explicit uzo2_device(event_base& interrupt_event);
};

class quorvanda_device : public prang_device {
public:
    explicit quorvanda_device(event_base& interrupt_event);
};

class nebro_connection : public USBDiskConnection {
public:
    nebro_connection(const connection_settings& settings, event_base& interrupt_event)
        : nebro_connection("Nebro", std::make_unique<nebro_device>(interrupt_event), settings,
                           interrupt_event) {}

    std::string model_name() override { return model_; }
    bool uses_sp_files() override { return false; }
    bool uses_nar_files() override { return false; }
    // Downloads the package into the temporary folder, unpacks it onto the unit and
    // confirms the version; the download and the unpacked files leave the computer again.
    void install_package(request_context& request, const std::string& root, const std::string& url,
                         std::int32_t version) override;

protected:
    nebro_connection(const char* model, std::unique_ptr<nebro_device> owned,
                     const connection_settings& settings, event_base& interrupt_event)
        : USBDiskConnection(std::move(owned), settings, interrupt_event), model_(model) {}

private:
    const char* model_;
};

// One connection class per model, each over its own device class.
template <typename Device>
class tar_package_connection : public nebro_connection {
public:
    tar_package_connection(const char* model, const connection_settings& settings,
                           event_base& interrupt_event)
        : nebro_connection(model, std::make_unique<Device>(interrupt_event), settings,
                           interrupt_event) {}
};

class uzo_connection : public tar_package_connection<uzo_device> {
public:
    uzo_connection(const connection_settings& settings, event_base& interrupt_event)
        : tar_package_connection("Uzo", settings, interrupt_event) {}

    // Only files for the unit's set-up type (604 otherwise, 201 without its set-up byte).
    void download_files(request_context& request, USBDiskRestoreResponse& response,
                        const std::string& root) override;
};

// After every update of its files the unit also gets the satellite ephemeris files the
// service holds for its serial number.
class prang_connection : public tar_package_connection<prang_device> {
public:
    prang_connection(const connection_settings& settings, event_base& interrupt_event)
        : tar_package_connection("Prang", settings, interrupt_event) {}

    void update_course(const std::string& courseCode) override;
    void download_files(request_context& request, USBDiskRestoreResponse& response,
                        const std::string& root) override;
    // Downloads the offered files into "ALP/" one by one, confirming each. Transport
    // failures and interruptions pass; any other failure is logged and ends it quietly.
    virtual void update_ephemeris(request_context& request, const std::string& root);
};

class morvane_connection : public tar_package_connection<morvane_device> {
public:
    morvane_connection(const connection_settings& settings, event_base& interrupt_event)
        : tar_package_connection("Morvane", settings, interrupt_event) {}
};

class caltor2_connection : public tar_package_connection<caltor2_device> {
public:
    caltor2_connection(const connection_settings& settings, event_base& interrupt_event)
        : tar_package_connection("Caltor2", settings, interrupt_event) {}
};

class uzo2_connection : public tar_package_connection<uzo2_device> {
public:
    uzo2_connection(const connection_settings& settings, event_base& interrupt_event)
        : tar_package_connection("Uzo2", settings, interrupt_event) {}
};

class quorvanda_connection : public tar_package_connection<quorvanda_device> {
public:
    quorvanda_connection(const connection_settings& settings, event_base& interrupt_event)
        : tar_package_connection("Quorvanda", settings, interrupt_event) {}
};

}  // namespace orvel
