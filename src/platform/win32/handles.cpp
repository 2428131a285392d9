#include "platform/win32/handles.h"

#include "base/log_hub.h"

namespace orvel::platform {

dll_handle::dll_handle(const char* name)
    : module_(::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    if (module_ == nullptr) {
        log(3, "LoadLibrary failed for %s: %u", name, static_cast<unsigned>(::GetLastError()));
    }
}

FARPROC dll_handle::entry(const char* name) const {
    if (module_ == nullptr) {
        return nullptr;
    }
    const FARPROC address = ::GetProcAddress(module_, name);
    if (address == nullptr) {
        log(3, "GetProcAddress failed for %s: %u", name, static_cast<unsigned>(::GetLastError()));
    }
    return address;
}

}  // namespace orvel::platform
