// The serial unit models with their constants. The HX62 family is complete; the protocols of
// JT, Zel, Vemo and Tavlin are not built yet, so their units refuse to open with a clear
// text instead of being driven with a protocol they do not speak.
#pragma once

#include "cloud/course.h"
#include "cloud/course_response.h"
#include "devices/serial/comm_device.h"
#include "devices/serial/hx62_models.h"
#include "devices/serial/serial_model_connection.h"

namespace orvel {

// A serial model's device whose protocol is still to come.
template <typename Response>
class serial_model_device : public CommDevice {
public:
    serial_model_device(event_base& interrupt_event, const char* protocol)
        : CommDevice(interrupt_event), protocol_(protocol) {}

    bool open(const std::string& location) override;
    bool write_course() override;
    sync_response& plain_response() override { return plain_response_; }
    sync_response& course_response() override { return course_response_; }

private:
    const char* protocol_;
    sync_response plain_response_;
    Response course_response_;
};

class JTCourse : public course {};
class JTCourseResponse : public course_response<JTCourse> {};
class ZelCourse : public course {};
class ZelCourseResponse : public course_response<ZelCourse> {};
class VemoCourse : public course {};
class VemoCourseResponse : public course_response<VemoCourse> {};
class TavlinCourse : public course {};
class TavlinCourseResponse : public course_response<TavlinCourse> {};

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
bool serial_model_device<Response>::open(const std::string&) {
    throw intl_exception(std::string("Comm port open failed. The ") + protocol_ +
                         " protocol is not supported yet.");
}

template <typename Response>
bool serial_model_device<Response>::write_course() {
    throw intl_exception(std::string("The ") + protocol_ +
                         " course protocol is not supported yet.");
}

}  // namespace orvel
