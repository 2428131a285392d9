#include "platform/file_ops.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "base/log_hub.h"
#include "platform/auto_fd.h"
#include "platform/private_files.h"
#include "platform/system_error.h"

namespace orvel::platform {

char path_separator() {
    return '/';
}

bool create_dirs(std::string& path) {
    if (path.empty() || path.front() != '/') {
        return false;
    }
    for (std::size_t at = 1; at < path.size(); ++at) {
        if (path[at] != '/') {
            continue;
        }
        const std::string prefix = path.substr(0, at);
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            log(3, "Failed to create dir (%d): %s", errno, prefix.c_str());
            return false;
        }
    }
    return true;
}

int copy_into_new_file(const std::string& source, const std::string& destination) {
    auto_fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!in.valid() || ::fstat(in.get(), &info) != 0) {
        return errno;
    }
    auto_fd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                       info.st_mode & 0777));
    if (!out.valid()) {
        return errno;
    }
    // In the kernel, from the source's pages to the destination's; a source that got
    // shorter meanwhile ends the copy early.
    constexpr off_t widest_step = 1 << 30;
    for (off_t left = info.st_size; left > 0;) {
        const ssize_t sent = ::sendfile(out.get(), in.get(), nullptr,
                                        static_cast<std::size_t>(std::min(left, widest_step)));
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0) {
            return errno;
        }
        if (sent == 0) {
            break;
        }
        left -= sent;
    }
    // Some file systems report a failed write only when the file is closed.
    return ::close(out.release()) == 0 ? 0 : errno;
}

std::uint64_t get_free_space(const std::string& directory) {
    struct statvfs info {};
    if (::statvfs(directory.c_str(), &info) != 0) {
        log_system_error("get_free_space failed");
        return std::numeric_limits<std::uint64_t>::max();
    }
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

namespace {

std::string with_separator(std::string folder) {
    if (folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

const char* set_variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// Other users may put files in a folder they may write to, such as a $TMPDIR of /tmp:
// the log, with the member's credentials, must not land where one of them made it first.
bool is_private_dir(const std::string& folder) {
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 022) == 0;
}

std::string own_subfolder(const std::string& folder) {
    return folder + "orvelsync-" + std::to_string(::geteuid()) + "/";
}

}  // namespace

std::string temp_dir() {
    if (const char* configured = set_variable("TMPDIR")) {
        const std::string folder = with_separator(configured);
        return is_private_dir(folder) ? folder : own_subfolder(folder);
    }
    if (const char* runtime = set_variable("XDG_RUNTIME_DIR")) {
        return with_separator(runtime) + "orvelsync/";
    }
    return own_subfolder("/tmp/");
}

bool prepare_temp_dir(std::string& problem) {
    const std::string folder = temp_dir();
    const char* configured = set_variable("TMPDIR");
    if (configured != nullptr && folder == with_separator(configured)) {
        return true;
    }
    return prepare_private_dir(folder, false, problem);
}

}  // namespace orvel::platform
