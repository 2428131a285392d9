// The serial unit models with their constants. Their protocols are not built yet: writing
// a course fails with a clear text instead of reporting success.
#pragma once

#include <memory>

#include "cloud/course.h"
#include "cloud/course_response.h"
#include "devices/serial/comm_connection.h"
#include "devices/serial/comm_device.h"

namespace orvel {

// A serial model's device: its bridge, its speed and its own course answer.
template <typename Response>
class serial_model_device : public CommDevice {
public:
    serial_model_device(event_base& interrupt_event, const char* protocol)
        : CommDevice(interrupt_event), protocol_(protocol) {}

    bool write_course() override;
    sync_response& plain_response() override { return plain_response_; }
    sync_response& course_response() override { return course_response_; }

private:
    const char* protocol_;
    sync_response plain_response_;
    Response course_response_;
};

class HX62Course : public course {};
class HX62SyncResponse : public course_response<HX62Course> {};
class JTCourse : public course {};
class JTCourseResponse : public course_response<JTCourse> {};
class ZelCourse : public course {};
class ZelCourseResponse : public course_response<ZelCourse> {};
class VemoCourse : public course {};
class VemoCourseResponse : public course_response<VemoCourse> {};
class TavlinCourse : public course {};
class TavlinCourseResponse : public course_response<TavlinCourse> {};

class HX62Device : public serial_model_device<HX62SyncResponse> {
public:
    explicit HX62Device(event_base& interrupt_event)
        : serial_model_device(interrupt_event, "HX62") {}
    std::string identity() override { return silicon_labs_bridge; }
    unsigned baud_rate() override { return 460800; }
};

class HXZelPlusDevice : public HX62Device {
public:
    using HX62Device::HX62Device;
};
class HXBrevantoDevice : public HX62Device {
public:
    using HX62Device::HX62Device;
};
class HXZelXDevice : public HX62Device {
public:
    using HX62Device::HX62Device;
};
class HXZelXSDevice : public HX62Device {
public:
    using HX62Device::HX62Device;
};
class HXQuillanDevice : public HX62Device {
public:
    using HX62Device::HX62Device;
};

class JTDevice : public serial_model_device<JTCourseResponse> {
public:
    explicit JTDevice(event_base& interrupt_event) : serial_model_device(interrupt_event, "JT") {}
    std::string identity() override { return prolific_bridge; }
    unsigned baud_rate() override { return 57600; }
};

class ZelDevice : public serial_model_device<ZelCourseResponse> {
public:
    explicit ZelDevice(event_base& interrupt_event) : serial_model_device(interrupt_event, "Zel") {}
    std::string identity() override { return prolific_bridge; }
    unsigned baud_rate() override { return 9600; }
};

class VemoDevice : public serial_model_device<VemoCourseResponse> {
public:
    explicit VemoDevice(event_base& interrupt_event)
        : serial_model_device(interrupt_event, "Vemo") {}
    std::string identity() override { return prolific_bridge; }
    unsigned baud_rate() override { return 115200; }
};

class TavlinDevice : public serial_model_device<TavlinCourseResponse> {
public:
    explicit TavlinDevice(event_base& interrupt_event)
        : serial_model_device(interrupt_event, "Tavlin") {}
    std::string identity() override { return prolific_bridge; }
    unsigned baud_rate() override { return 38400; }
};

// A serial model's connection: its model text over the device class it owns.
template <typename Device>
class serial_model_connection : public CommConnection {
public:
    serial_model_connection(const char* model, const connection_settings& settings,
                            event_base& interrupt_event)
        : CommConnection(std::make_unique<Device>(interrupt_event), settings, interrupt_event),
          model_(model) {}

    std::string model_name() override { return model_; }

private:
    const char* model_;
};

class HXZelPlusConnection : public serial_model_connection<HXZelPlusDevice> {
public:
    HXZelPlusConnection(const connection_settings& settings, event_base& interrupt_event)
        : serial_model_connection("HXZelPlus", settings, interrupt_event) {}
};

class HXBrevantoConnection : public serial_model_connection<HXBrevantoDevice> {
public:
    HXBrevantoConnection(const connection_settings& settings, event_base& interrupt_event)
        : serial_model_connection("HXBrevanto", settings, interrupt_event) {}
};

class HXZelXConnection : public serial_model_connection<HXZelXDevice> {
public:
    HXZelXConnection(const connection_settings& settings, event_base& interrupt_event)
        : serial_model_connection("HXZelX", settings, interrupt_event) {}
};

class HXZelXSConnection : public serial_model_connection<HXZelXSDevice> {
public:
    HXZelXSConnection(const connection_settings& settings, event_base& interrupt_event)
        : serial_model_connection("HXZelXS", settings, interrupt_event) {}
};

class HXQuillanConnection : public serial_model_connection<HXQuillanDevice> {
public:
    HXQuillanConnection(const connection_settings& settings, event_base& interrupt_event)
        : serial_model_connection("HXQuillan", settings, interrupt_event) {}
};

class JTConnection : public serial_model_connection<JTDevice> {
public:
    JTConnection(const connection_settings& settings, event_base& interrupt_event)
        : serial_model_connection("JT", settings, interrupt_event) {}
};

class ZelConnection : public serial_model_connection<ZelDevice> {
public:
    ZelConnection(const connection_settings& settings, event_base& interrupt_event)
        : serial_model_connection("Zel", settings, interrupt_event) {}
};

class VemoConnection : public serial_model_connection<VemoDevice> {
public:
    VemoConnection(const connection_settings& settings, event_base& interrupt_event)
        : serial_model_connection("Vemo", settings, interrupt_event) {}
};

class TavlinConnection : public serial_model_connection<TavlinDevice> {
public:
    TavlinConnection(const connection_settings& settings, event_base& interrupt_event)
        : serial_model_connection("Tavlin", settings, interrupt_event) {}
};

template <typename Response>
bool serial_model_device<Response>::write_course() {
    throw intl_exception(std::string("The ") + protocol_ +
                         " course protocol is not supported yet.");
}

}  // namespace orvel
