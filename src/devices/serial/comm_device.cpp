#include "devices/serial/comm_device.h"

#include "app/failures.h"

namespace orvel {

// The serial port layer is not built yet: opening refuses loudly instead of pretending.
bool CommDevice::open(const std::string&) {
    throw intl_exception("Comm port open failed. Serial units are not supported yet.");
}

void CommDevice::close() {}

bool CommDevice::is_open() {
    return false;
}

}  // namespace orvel
