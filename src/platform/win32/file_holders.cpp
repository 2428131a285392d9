#include <windows.h>
// restartmanager.h needs windows.h first.
#include <restartmanager.h>

#include <vector>

#include "base/log_hub.h"
#include "platform/file_ops.h"
#include "platform/win32/handles.h"

namespace orvel::platform {

namespace {

using start_session_call = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using end_session_call = DWORD(WINAPI*)(DWORD);
using register_resources_call = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*,
                                               UINT, LPCWSTR*);
using get_list_call = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);

// The Restart Manager exists from Windows Vista on; it is loaded when needed, so that the
// agent starts without it.
class rstrtmgr_dll : public dll_handle {
public:
    rstrtmgr_dll() : dll_handle("Rstrtmgr.dll") {
        start_session =
            reinterpret_cast<start_session_call>(reinterpret_cast<void*>(entry("RmStartSession")));
        if (start_session == nullptr) {
            return;
        }
        end_session =
            reinterpret_cast<end_session_call>(reinterpret_cast<void*>(entry("RmEndSession")));
        register_resources = reinterpret_cast<register_resources_call>(
            reinterpret_cast<void*>(entry("RmRegisterResources")));
        get_list = reinterpret_cast<get_list_call>(reinterpret_cast<void*>(entry("RmGetList")));
    }

    bool complete() const {
        return start_session != nullptr && end_session != nullptr &&
               register_resources != nullptr && get_list != nullptr;
    }

    start_session_call start_session = nullptr;
    end_session_call end_session = nullptr;
    register_resources_call register_resources = nullptr;
    get_list_call get_list = nullptr;
};

class restart_session {
public:
    explicit restart_session(const rstrtmgr_dll& library) : library_(library) {
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        result_ = library_.start_session(&handle_, 0, key);
    }
    ~restart_session() {
        if (result_ == ERROR_SUCCESS) {
            library_.end_session(handle_);
        }
    }
    restart_session(const restart_session&) = delete;
    restart_session& operator=(const restart_session&) = delete;

    DWORD result() const { return result_; }
    DWORD get() const { return handle_; }

private:
    const rstrtmgr_dll& library_;
    DWORD handle_ = 0;
    DWORD result_;
};

std::wstring widened(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

// Logs the executable of a listed process, unless its id now names another process.
void log_holder(const RM_PROCESS_INFO& holder) {
    const auto_handle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, holder.Process.dwProcessId));
    if (!process.valid()) {
        return;
    }
    FILETIME created{};
    FILETIME ended{};
    FILETIME kernel{};
    FILETIME user{};
    if (::GetProcessTimes(process.get(), &created, &ended, &kernel, &user) == FALSE ||
        ::CompareFileTime(&created, &holder.Process.ProcessStartTime) != 0) {
        return;
    }
    char path[MAX_PATH * 4] = {};
    DWORD length = sizeof path;
    if (::QueryFullProcessImageNameA(process.get(), 0, path, &length) != FALSE) {
        log(6, "Process %s", path);
    }
}

}  // namespace

void report_file_holders(const std::string& path) {
    const rstrtmgr_dll library;
    if (!library.complete()) {
        return;
    }
    log(6, "Sharing violations for %s", path.c_str());
    const restart_session session(library);
    if (session.result() != ERROR_SUCCESS) {
        log(3, "RmStartSession returned %d", static_cast<int>(session.result()));
        return;
    }
    const std::wstring wide = widened(path);
    LPCWSTR files[] = {wide.c_str()};
    const DWORD registered =
        library.register_resources(session.get(), 1, files, 0, nullptr, 0, nullptr);
    if (registered != ERROR_SUCCESS) {
        log(3, "RmRegisterResources (%s) returned %d", path.c_str(), static_cast<int>(registered));
        return;
    }
    // Ten holders are plenty for a file on a unit; when there are more, the list is asked
    // again at the size the first answer gave.
    std::vector<RM_PROCESS_INFO> holders(10);
    UINT count = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        UINT needed = 0;
        count = static_cast<UINT>(holders.size());
        DWORD reasons = 0;
        const DWORD listed =
            library.get_list(session.get(), &needed, &count, holders.data(), &reasons);
        if (listed == ERROR_SUCCESS) {
            break;
        }
        log(3, "RmGetList returned %d", static_cast<int>(listed));
        if (listed != ERROR_MORE_DATA || attempt == 1) {
            return;
        }
        holders.resize(needed);
    }
    for (UINT at = 0; at < count && at < holders.size(); ++at) {
        log_holder(holders[at]);
    }
}

}  // namespace orvel::platform
