#include "platform/system_error.h"

#include <windows.h>

#include "base/log_hub.h"
#include "platform/win32/message_text.h"

namespace orvel::platform {

int last_error() {
    return static_cast<int>(::GetLastError());
}

std::string error_text(int error) {
    return message_text(nullptr, static_cast<DWORD>(error));
}

std::string runtime_error_text(int error) {
    char buffer[256] = {};
    if (strerror_s(buffer, sizeof buffer, error) != 0) {
        return {};
    }
    return buffer;
}

std::error_code as_system_error(const std::error_code& error) {
    // The library reports the system's own numbers in the system category already; what
    // it reports in the generic one are C runtime numbers, which stay as they are.
    return error;
}

bool is_held_by_another(const std::error_code& error) {
    const int value = error.value();
    return error.category() == std::system_category() &&
           (value == ERROR_SHARING_VIOLATION || value == ERROR_ACCESS_DENIED);
}

void log_system_error(const char* operation, int error) {
    log(3, "%s: %lu. %s", operation, static_cast<unsigned long>(error), error_text(error).c_str());
}

void log_system_error(const char* operation) {
    log_system_error(operation, last_error());
}

}  // namespace orvel::platform
