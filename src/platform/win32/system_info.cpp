#include "platform/system_info.h"

#include <windows.h>

#include "base/format.h"
#include "platform/system_error.h"

namespace orvel::platform {

namespace {

using is_wow64_process_call = BOOL(WINAPI*)(HANDLE, PBOOL);
using rtl_get_version_call = LONG(WINAPI*)(OSVERSIONINFOEXW*);

template <typename Call>
Call entry_of(const char* module, const char* name) {
    const HMODULE loaded = ::GetModuleHandleA(module);
    return loaded == nullptr
               ? nullptr
               : reinterpret_cast<Call>(reinterpret_cast<void*>(::GetProcAddress(loaded, name)));
}

// GetVersionEx tells a program without a compatibility manifest that it runs on Windows 8,
// whatever runs it; the kernel's own call tells the truth.
bool true_version(OSVERSIONINFOEXA& version) {
    const auto rtl_get_version = entry_of<rtl_get_version_call>("ntdll", "RtlGetVersion");
    OSVERSIONINFOEXW wide{};
    wide.dwOSVersionInfoSize = sizeof wide;
    if (rtl_get_version != nullptr && rtl_get_version(&wide) == 0) {
        version.dwMajorVersion = wide.dwMajorVersion;
        version.dwMinorVersion = wide.dwMinorVersion;
        version.dwBuildNumber = wide.dwBuildNumber;
        const int length =
            ::WideCharToMultiByte(CP_ACP, 0, wide.szCSDVersion, -1, version.szCSDVersion,
                                  sizeof version.szCSDVersion, nullptr, nullptr);
        if (length == 0) {
            version.szCSDVersion[0] = '\0';
        }
        return true;
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version)) == FALSE) {
#pragma GCC diagnostic pop
        log_system_error("GetVersionEx");
        return false;
    }
    return true;
}

}  // namespace

bool describe_os(std::string& description) {
    BOOL wow64 = FALSE;
    const auto is_wow64_process = entry_of<is_wow64_process_call>("kernel32", "IsWow64Process");
    if (is_wow64_process != nullptr && is_wow64_process(::GetCurrentProcess(), &wow64) == FALSE) {
        log_system_error("IsWow64Process");
        return false;
    }
    OSVERSIONINFOEXA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!true_version(version)) {
        return false;
    }
    // A 64-bit process is no WOW64 process, yet its system is a 64-bit one.
    const int bits = sizeof(void*) == 8 || wow64 != FALSE ? 64 : 32;
    description = format_text("Win%d %lu.%lu %s", bits, version.dwMajorVersion,
                              version.dwMinorVersion, version.szCSDVersion);
    return true;
}

}  // namespace orvel::platform
