#include "base/failures.h"

#include "base/format.h"

namespace orvel {

void raise_sync_error(sync_error_code code) {
    throw extl_exception(std::string(), code);
}

void raise_sync_error(sync_error_code code, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = vformat_text(format, args);
    va_end(args);
    throw extl_exception(std::move(message), code);
}

std::string failed_text(const std::string& step) {
    return step + " failed.";
}

}  // namespace orvel
