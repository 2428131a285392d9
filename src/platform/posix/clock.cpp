#include "platform/clock.h"

namespace orvel::platform {

bool local_time(std::time_t when, std::tm& out) {
    return when != static_cast<std::time_t>(-1) && localtime_r(&when, &out) != nullptr;
}

bool utc_time(std::time_t when, std::tm& out) {
    return when != static_cast<std::time_t>(-1) && gmtime_r(&when, &out) != nullptr;
}

}  // namespace orvel::platform
