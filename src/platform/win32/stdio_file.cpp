#include "platform/stdio_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/failures.h"
#include "platform/auto_fd.h"
#include "platform/win32/file_checks.h"
#include "platform/win32/handles.h"

namespace orvel {

using platform::errno_of;
using platform::is_link;

namespace {

HANDLE os_handle(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

}  // namespace

// Other openers may read but not write, as with the runtime's deny-write share mode. The
// file is opened through the system so that a "w" mode cuts it only once it is ours: a
// writer that another opener holds is refused before anything is cut. The link is never
// followed; what the agent creates inherits its folder's access list (the user's own).
void stdio_file::open_mode(const char* mode, const char* word) {
    const bool update = std::strchr(mode, '+') != nullptr;
    const bool writes = mode[0] == 'w';
    DWORD access = GENERIC_READ;
    if (writes) {
        access = update ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    } else if (update) {
        access = GENERIC_READ | GENERIC_WRITE;
    }
    platform::auto_handle file(::CreateFileA(
        path_.c_str(), access, FILE_SHARE_READ, nullptr, writes ? OPEN_ALWAYS : OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    platform::auto_fd fd;
    if (!file.valid()) {
        errno = errno_of(::GetLastError());
    } else if (is_link(file.get())) {
        errno = EACCES;
    } else {
        const int flags = _O_BINARY | (access == GENERIC_READ ? _O_RDONLY : 0);
        fd.reset(::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), flags));
        if (fd.valid()) {
            file.release();  // the descriptor owns it now
        }
    }
    adopt(std::move(fd), mode, word);
}

void stdio_file::adopt(platform::auto_fd fd, const char* mode, const char* word) {
    const bool update = std::strchr(mode, '+') != nullptr;
    const bool writes = mode[0] == 'w';
    if (fd.valid()) {
        const HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd.get()));
        if (writes && ::SetEndOfFile(file) == FALSE) {
            errno = errno_of(::GetLastError());
        } else {
            handle_ = ::_fdopen(fd.get(), mode);
            if (handle_ != nullptr) {
                fd.release();
                writable_ = writes || update;
            }
        }
    }
    check(handle_ == nullptr, word);
}

// Handles that cannot be flushed (a device such as NUL) hold nothing to flush.
bool stdio_file::flush_to_disk() {
    if (::FlushFileBuffers(os_handle(handle_)) != FALSE) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_HANDLE) {
        return true;
    }
    errno = errno_of(error);
    return false;
}

void stdio_file::truncate_here() {
    check_open("trunc");
    check(std::fflush(handle_) != 0, "trunc");
    const __int64 here = ::_ftelli64(handle_);
    check(here < 0, "trunc");
    check(::_chsize_s(::_fileno(handle_), here) != 0, "trunc");
}

void stdio_file::seek(std::int64_t offset, int origin) {
    check_open("seek");
    check(::_fseeki64(handle_, offset, origin) != 0, "seek");
}

std::uint64_t stdio_file::tell() {
    check_open("tell");
    const __int64 position = ::_ftelli64(handle_);
    check(position < 0, "tell");
    return static_cast<std::uint64_t>(position);
}

}  // namespace orvel
