#include "base/format.h"

#include <cstdio>

namespace orvel {

std::string vformat_text(const char* format, va_list args) {
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (length <= 0) {
        return std::string();
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    // The terminator lands on the string's own terminating slot.
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

std::string format_text(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = vformat_text(format, args);
    va_end(args);
    return text;
}

}  // namespace orvel
