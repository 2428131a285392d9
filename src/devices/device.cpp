#include "devices/device.h"

#include <ctime>

#include "cloud/rest_request.h"

namespace orvel {

std::string device::timestamp() {
    return utc_date_text(std::time(nullptr));
}

void device::check_course_data(std::uint32_t, byte_vector) {}

}  // namespace orvel
