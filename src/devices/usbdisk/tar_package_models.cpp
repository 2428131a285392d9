#include "devices/usbdisk/tar_package_models.h"

#include "app/failures.h"

namespace orvel {

bool nebro_device::open(const std::string&) {
    throw intl_exception("The course library of " + identity() + " units is not supported yet.");
}

bool nebro_device::write_course() {
    throw intl_exception("The course library of " + identity() + " units is not supported yet.");
}

void nebro_connection::install_package(request_context&, const std::string&, const std::string&,
                                       std::int32_t) {
    throw intl_exception("The packages of " + model_name() + " units are not supported yet.");
}

}  // namespace orvel
