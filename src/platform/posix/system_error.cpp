#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

#include "base/log_hub.h"

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

std::string runtime_error_text(int error) {
    return error_text(error);
}

std::error_code as_system_error(const std::error_code& error) {
    // errno values are the system's own numbers here.
    if (error.category() == std::generic_category()) {
        return std::error_code(error.value(), std::system_category());
    }
    return error;
}

bool is_held_by_another(const std::error_code& error) {
    const std::error_code ec = as_system_error(error);
    const int value = ec.value();
    return ec.category() == std::system_category() &&
           (value == EBUSY || value == EACCES || value == EPERM);
}

void log_system_error(const char* operation, int error) {
    log(3, "%s: %lu. %s", operation, static_cast<unsigned long>(error), error_text(error).c_str());
}

void log_system_error(const char* operation) {
    log_system_error(operation, last_error());
}

}  // namespace orvel::platform
