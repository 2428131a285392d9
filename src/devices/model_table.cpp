#include "devices/model_table.h"

#include "base/failures.h"
#include "devices/model_rows.h"
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
std::unique_ptr<device_connection> serial(const model_row& row, const connection_settings& settings,
                                          event_base& interrupt_event) {
    return std::make_unique<CommConnection>(std::make_unique<Device>(interrupt_event), row,
                                            settings, interrupt_event);
}

template <typename Device>
std::unique_ptr<device_connection> volume(const model_row& row, const connection_settings& settings,
                                          event_base& interrupt_event) {
    return std::make_unique<USBDiskConnection>(std::make_unique<Device>(row, interrupt_event),
                                               settings, interrupt_event);
}

}  // namespace

std::unique_ptr<device_connection> make_device_connection(const std::string& model,
                                                          const connection_settings& settings,
                                                          event_base& interrupt_event) {
    const model_row& row = row_of(model);
    switch (row.family) {
        case model_family::hx62:
            return std::make_unique<CommConnection>(
                std::make_unique<HX62Device>(row, interrupt_event), row, settings, interrupt_event);
        case model_family::jt:
            return serial<JTDevice>(row, settings, interrupt_event);
        case model_family::zel:
            return serial<ZelDevice>(row, settings, interrupt_event);
        case model_family::vemo:
            return serial<VemoDevice>(row, settings, interrupt_event);
        case model_family::tavlin:
            return serial<TavlinDevice>(row, settings, interrupt_event);
        case model_family::file_volume:
            return volume<USBDiskDevice>(row, settings, interrupt_event);
        case model_family::jtc_file:
            return volume<JTCDevice>(row, settings, interrupt_event);
        case model_family::tar_package:
            return std::make_unique<nebro_connection>(row, settings, interrupt_event);
    }
    raise_sync_error(sync_error_code::unknown_model);
}

}  // namespace orvel
