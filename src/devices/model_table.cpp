#include "devices/model_table.h"

#include "base/failures.h"
#include "devices/model_specs.h"
#include "devices/serial/comm_connection.h"
#include "devices/serial/hx62_device.h"
#include "devices/serial/jt_device.h"
#include "devices/serial/tavlin_device.h"
#include "devices/serial/vemo_device.h"
#include "devices/serial/zel_device.h"
#include "devices/usbdisk/file_models.h"
#include "devices/usbdisk/tar_package_models.h"

namespace orvel {

namespace {

template <typename Device>
std::unique_ptr<device_connection> serial(const model_spec& spec,
                                          const connection_settings& settings,
                                          event_base& interrupt_event) {
    return std::make_unique<CommConnection>(std::make_unique<Device>(interrupt_event), spec,
                                            settings, interrupt_event);
}

template <typename Device>
std::unique_ptr<device_connection> volume(const model_spec& spec,
                                          const connection_settings& settings,
                                          event_base& interrupt_event) {
    return std::make_unique<USBDiskConnection>(std::make_unique<Device>(spec, interrupt_event),
                                               settings, interrupt_event);
}

}  // namespace

std::unique_ptr<device_connection> make_device_connection(const std::string& model,
                                                          const connection_settings& settings,
                                                          event_base& interrupt_event) {
    const model_spec& spec = spec_of(model);
    switch (spec.family) {
        case model_family::hx62:
            return std::make_unique<CommConnection>(
                std::make_unique<HX62Device>(spec, interrupt_event), spec, settings,
                interrupt_event);
        case model_family::jt:
            return serial<JTDevice>(spec, settings, interrupt_event);
        case model_family::zel:
            return serial<ZelDevice>(spec, settings, interrupt_event);
        case model_family::vemo:
            return serial<VemoDevice>(spec, settings, interrupt_event);
        case model_family::tavlin:
            return serial<TavlinDevice>(spec, settings, interrupt_event);
        case model_family::file_volume:
            return volume<USBDiskDevice>(spec, settings, interrupt_event);
        case model_family::jtc_file:
            return volume<JTCDevice>(spec, settings, interrupt_event);
        case model_family::tar_package:
            return std::make_unique<nebro_connection>(spec, settings, interrupt_event);
    }
    raise_sync_error(sync_error_code::unknown_model);
}

}  // namespace orvel
