#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

#include "app/log_hub.h"

namespace orvel::platform {

int last_error() {
    return errno;
}

std::string error_text(int error) {
    char buffer[256] = {};
    // The GNU variant may return a static text instead of filling the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string();
}

void log_system_error(const char* operation, int error) {
    log(3, "%s: %lu. %s", operation, static_cast<unsigned long>(error), error_text(error).c_str());
}

void log_system_error(const char* operation) {
    log_system_error(operation, last_error());
}

}  // namespace orvel::platform
