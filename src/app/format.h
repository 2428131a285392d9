// printf-style formatting into a std::string, sized by a first pass.
#pragma once

#include <cstdarg>
#include <string>

namespace orvel {

std::string vformat_text(const char* format, va_list args);
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orvel
