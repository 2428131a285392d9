#include "platform/standard_streams.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/system_error.h"

namespace orvel::platform {

namespace {

bool point_at(std::FILE* stream, int target, DWORD standard_handle) {
    // A program without a console starts with streams that have no descriptor at all;
    // one is made first, for the file's to be copied over.
    if (::_fileno(stream) < 0 && std::freopen("NUL", "w", stream) == nullptr) {
        log_system_error("freopen", ::GetLastError());
        return false;
    }
    if (::_dup2(target, ::_fileno(stream)) != 0) {
        log_system_error("_dup2", ::GetLastError());
        return false;
    }
    // What writes through the system's handle rather than the C runtime lands there too.
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    if (::SetStdHandle(standard_handle, handle) == FALSE) {
        log_system_error("SetStdHandle");
        return false;
    }
    return true;
}

}  // namespace

bool point_standard_streams_at(std::FILE* file) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int target = ::_fileno(file);
    if (target < 0) {
        log_system_error("fileno", ERROR_INVALID_HANDLE);
        return false;
    }
    const bool out = point_at(stdout, target, STD_OUTPUT_HANDLE);
    const bool error = point_at(stderr, target, STD_ERROR_HANDLE);
    // The runtime has no line buffering (it buffers fully instead); library lines should
    // appear where they happen.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return out && error;
}

}  // namespace orvel::platform
