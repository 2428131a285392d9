#include "platform/clock.h"

namespace orvel::platform {

bool local_time(std::time_t when, std::tm& out) {
    return when != static_cast<std::time_t>(-1) && localtime_s(&out, &when) == 0;
}

bool utc_time(std::time_t when, std::tm& out) {
    return when != static_cast<std::time_t>(-1) && gmtime_s(&out, &when) == 0;
}

}  // namespace orvel::platform
