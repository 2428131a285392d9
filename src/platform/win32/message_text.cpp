#include "platform/win32/message_text.h"

namespace orvel::platform {

namespace {

constexpr DWORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 0x409

std::string formatted(HMODULE module, DWORD error, DWORD language) {
    DWORD flags = FORMAT_MESSAGE_IGNORE_INSERTS;
    flags |= module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    char buffer[1024] = {};
    const DWORD length =
        ::FormatMessageA(flags, module, error, language, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    // The system's texts end with a line break, which a log line does not want.
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string message_text(HMODULE module, DWORD error) {
    std::string text = formatted(module, error, english);
    // Systems without the English texts installed still have their own language's.
    if (text.empty() && ::GetLastError() == ERROR_RESOURCE_LANG_NOT_FOUND) {
        text = formatted(module, error, 0);
    }
    return text;
}

}  // namespace orvel::platform
