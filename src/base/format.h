// printf-style formatting into a std::string, sized by a first pass.
#pragma once

#include <cstdarg>
#include <string>

#include "base/printf_format.h"

namespace orvel {

std::string vformat_text(const char* format, va_list args);
std::string format_text(const char* format, ...) ORVEL_PRINTF_FORMAT(1, 2);

}  // namespace orvel
