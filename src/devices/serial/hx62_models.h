// The five HX62 models. They differ only in the keys their course records are scrambled
// with, which matter for the logged course names alone.
#pragma once

#include "devices/serial/hx62_device.h"
#include "devices/serial/serial_model_connection.h"

namespace orvel {

class HXZelPlusDevice : public HX62Device {
public:
    using HX62Device::HX62Device;
    void check_course_data(std::uint32_t course_id, byte_vector data) override;
};

class HXBrevantoDevice : public HX62Device {
public:
    using HX62Device::HX62Device;
    void check_course_data(std::uint32_t course_id, byte_vector data) override;
};

class HXZelXDevice : public HX62Device {
public:
    using HX62Device::HX62Device;
    void check_course_data(std::uint32_t course_id, byte_vector data) override;
};

class HXZelXSDevice : public HX62Device {
public:
    using HX62Device::HX62Device;
    void check_course_data(std::uint32_t course_id, byte_vector data) override;
};

class HXQuillanDevice : public HX62Device {
public:
    using HX62Device::HX62Device;
    void check_course_data(std::uint32_t course_id, byte_vector data) override;
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

}  // namespace orvel
