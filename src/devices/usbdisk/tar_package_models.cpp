#include "devices/usbdisk/tar_package_models.h"

#include "app/failures.h"

namespace orvel {

bool nebro_device::open(const std::string&) {
    throw intl_exception("The course library of " + identity() + " units is not supported yet.");
}

bool nebro_device::write_course() {
    throw intl_exception("The course library of " + identity() + " units is not supported yet.");
}

}  // namespace orvel
