#include "platform/stdio_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "app/failures.h"
#include "platform/auto_fd.h"
#include "platform/win32/handles.h"

namespace orvel {

namespace {

// The errno the runtime's own open sets for what the system refused, so that the failure
// texts read the same as with the runtime's calls.
int errno_of(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
        case ERROR_CANT_RESOLVE_FILENAME:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        default:
            return EINVAL;
    }
}

// A symbolic link or junction: a write through it would land wherever its maker chose.
// Other reparse points (a cloud file's placeholder) are files of their own.
bool is_link(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof info) == FALSE) {
        BY_HANDLE_FILE_INFORMATION basic{};
        return ::GetFileInformationByHandle(file, &basic) == FALSE ||
               (basic.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    return (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           IsReparseTagNameSurrogate(info.ReparseTag);
}

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
    if (!file.valid()) {
        errno = errno_of(::GetLastError());
    } else if (is_link(file.get())) {
        errno = EACCES;
    } else if (writes && ::SetEndOfFile(file.get()) == FALSE) {
        errno = errno_of(::GetLastError());
    } else {
        const int flags = _O_BINARY | (access == GENERIC_READ ? _O_RDONLY : 0);
        platform::auto_fd fd(::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), flags));
        if (fd.valid()) {
            file.release();  // the descriptor owns it now
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
