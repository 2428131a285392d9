// Calendar time of the system clock.
#pragma once

#include <ctime>

namespace orvel::platform {

bool local_time(std::time_t when, std::tm& out);
bool utc_time(std::time_t when, std::tm& out);

}  // namespace orvel::platform
