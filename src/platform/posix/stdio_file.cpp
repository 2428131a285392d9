#include "platform/stdio_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/failures.h"
#include "platform/auto_fd.h"

namespace orvel {

namespace {

// A file that is empty already is left alone: on ext4 a truncation marks the file for
// writing out as soon as it is closed, and a run of new scratch files would each pay
// for that.
bool cut_to_empty(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size == 0) {
        return true;
    }
    return ::ftruncate(fd, 0) == 0;
}

}  // namespace

// Never through a link: a planted one would turn a write of ours into a write over a file
// of the planter's choosing. What the agent creates is its user's alone.
void stdio_file::open_mode(const char* mode, const char* word) {
    const bool update = std::strchr(mode, '+') != nullptr;
    const bool writes = mode[0] == 'w';
    int flags = O_CLOEXEC | O_NOFOLLOW;
    if (writes) {
        flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT;
    } else {
        flags |= update ? O_RDWR : O_RDONLY;
    }
    adopt(platform::auto_fd(::open(path_.c_str(), flags, 0600)), mode, word);
}

// The lock is taken before a "w" mode cuts the file: a writer must not truncate a file
// another opener holds. Readers share the lock, a writer takes it alone, as a deny-write
// share mode would allow.
void stdio_file::adopt(platform::auto_fd fd, const char* mode, const char* word) {
    const bool update = std::strchr(mode, '+') != nullptr;
    const bool writes = mode[0] == 'w';
    if (fd.valid()) {
        const int lock = writes || update ? LOCK_EX : LOCK_SH;
        if (::flock(fd.get(), lock | LOCK_NB) == 0 && (!writes || cut_to_empty(fd.get()))) {
            handle_ = ::fdopen(fd.get(), mode);
            if (handle_ != nullptr) {
                fd.release();
                writable_ = writes || update;
            }
        }
    }
    check(handle_ == nullptr, word);
}

// Files that cannot be synced (EINVAL) hold nothing to flush.
bool stdio_file::flush_to_disk() {
    return ::fsync(::fileno(handle_)) == 0 || errno == EINVAL;
}

void stdio_file::truncate_here() {
    check_open("trunc");
    check(std::fflush(handle_) != 0, "trunc");
    const off_t here = ::ftello(handle_);
    check(here < 0, "trunc");
    check(::ftruncate(::fileno(handle_), here) != 0, "trunc");
}

void stdio_file::seek(std::int64_t offset, int origin) {
    check_open("seek");
    check(::fseeko(handle_, static_cast<off_t>(offset), origin) != 0, "seek");
}

std::uint64_t stdio_file::tell() {
    check_open("tell");
    const off_t position = ::ftello(handle_);
    check(position < 0, "tell");
    return static_cast<std::uint64_t>(position);
}

}  // namespace orvel
