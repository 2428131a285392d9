#include "devices/model_table.h"

#include "base/failures.h"
#include "devices/serial/serial_models.h"
#include "devices/usbdisk/file_models.h"
#include "devices/usbdisk/tar_package_models.h"

namespace orvel {

namespace {

using factory = std::unique_ptr<device_connection> (*)(const connection_settings&, event_base&);

template <typename Connection>
std::unique_ptr<device_connection> make(const connection_settings& settings,
                                        event_base& interrupt_event) {
    return std::make_unique<Connection>(settings, interrupt_event);
}

struct model_entry {
    const char* model;
    factory create;
};

// Searched in this order; the first whole, case-sensitive match wins.
constexpr model_entry model_table[] = {
    {"Quorvanda", make<quorvanda_connection>},
    {"Morvane", make<morvane_connection>},
    {"Uzo2", make<uzo2_connection>},
    {"Caltor2", make<caltor2_connection>},
    {"Prang", make<prang_connection>},
    {"HXQuillan", make<HXQuillanConnection>},
    {"Uzo", make<uzo_connection>},
    {"HXZelX", make<HXZelXConnection>},
    {"HXZelXS", make<HXZelXSConnection>},
    {"HXZelPlus", make<HXZelPlusConnection>},
    {"HXBrevanto", make<HXBrevantoConnection>},
    {"ZelPlus", make<ZelPlusConnection>},
    {"JTCPlus", make<JTCPlusConnection>},
    {"KM3", make<BrevantoConnection>},
    {"Nebro", make<nebro_connection>},
    {"Zel", make<ZelConnection>},
    {"Vemo", make<VemoConnection>},
    {"JTC", make<JTCConnection>},
    {"Tavlin", make<TavlinConnection>},
    {"JT", make<JTConnection>},
};

}  // namespace

std::unique_ptr<device_connection> make_device_connection(const std::string& model,
                                                          const connection_settings& settings,
                                                          event_base& interrupt_event) {
    for (const model_entry& entry : model_table) {
        if (model == entry.model) {
            return entry.create(settings, interrupt_event);
        }
    }
    raise_sync_error(sync_error_code::unknown_model);
}

}  // namespace orvel
