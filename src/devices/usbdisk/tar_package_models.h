// The USB-disk models whose course library is a folder tree unpacked from a tar package:
// Nebro, Uzo, Prang, Morvane, Caltor2, Uzo2 and Quorvanda. The library format is not built
// yet: opening such a unit for a course, or installing its package, fails with a clear text
// instead of writing files the unit would not read.
#pragma once

#include <memory>

#include "devices/usbdisk/usbdisk_connection.h"
#include "devices/usbdisk/usbdisk_device.h"

namespace orvel {

class nebro_device : public USBDiskDevice {
public:
    explicit nebro_device(event_base& interrupt_event) : nebro_device(interrupt_event, nebro) {}

    std::string identity() override { return names_.marker; }
    bool open(const std::string& root) override;
    bool write_course() override;
    std::string course_file_name() override { return names_.package; }
    std::string setup_file_name() override { return std::string(); }
    virtual std::string index_file_name() { return names_.index; }

protected:
    struct model_files {
        const char* marker;
        const char* package;
        const char* index;
    };
    static constexpr model_files nebro{"nebro.setup", "nebro.tar", "nebro.idx"};

    nebro_device(event_base& interrupt_event, model_files names)
        : USBDiskDevice(interrupt_event), names_(names) {}

private:
    model_files names_;
};

class uzo_device : public nebro_device {
public:
    explicit uzo_device(event_base& interrupt_event)
        : nebro_device(interrupt_event, {"uzo.setup", "uzo.tar", "uzo.idx"}) {}
};

class prang_device : public nebro_device {
public:
    explicit prang_device(event_base& interrupt_event)
        : nebro_device(interrupt_event, {"PRANG.STP", "prang.tar", "prang.idx"}) {}

protected:
    prang_device(event_base& interrupt_event, model_files names)
        : nebro_device(interrupt_event, names) {}
};

class morvane_device : public prang_device {
public:
    explicit morvane_device(event_base& interrupt_event)
        : prang_device(interrupt_event, {"morvane.stp", "morvane.tar", "morvane.idx"}) {}
};

class caltor2_device : public prang_device {
public:
    explicit caltor2_device(event_base& interrupt_event)
        : prang_device(interrupt_event, {"caltor2.stp", "caltor2.tar", "caltor2.idx"}) {}
};

class uzo2_device : public prang_device {
public:
    explicit uzo2_device(event_base& interrupt_event)
        : prang_device(interrupt_event, {"uzo2.stp", "uzo2.tar", "uzo2.idx"}) {}
};

class quorvanda_device : public prang_device {
public:
    explicit quorvanda_device(event_base& interrupt_event)
        : prang_device(interrupt_event, {"qvanda.stp", "quorvanda.tar", "qvanda.idx"}) {}
};

class nebro_connection : public USBDiskConnection {
public:
    nebro_connection(const connection_settings& settings, event_base& interrupt_event)
        : nebro_connection("Nebro", std::make_unique<nebro_device>(interrupt_event), settings,
                           interrupt_event) {}

    std::string model_name() override { return model_; }
    bool uses_sp_files() override { return false; }
    bool uses_nar_files() override { return false; }
    // Unpacking the package is not built yet: a full update or restore that lists it fails
    // with 600 before anything is downloaded.
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
};

class prang_connection : public tar_package_connection<prang_device> {
public:
    prang_connection(const connection_settings& settings, event_base& interrupt_event)
        : tar_package_connection("Prang", settings, interrupt_event) {}
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
