#include "platform/file_ops.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "app/log_hub.h"
#include "platform/system_error.h"

namespace orvel::platform {

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

std::uint64_t get_free_space(const std::string& directory) {
    struct statvfs info {};
    if (::statvfs(directory.c_str(), &info) != 0) {
        log_system_error("get_free_space failed");
        return std::numeric_limits<std::uint64_t>::max();
    }
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::string temp_dir() {
    const char* configured = std::getenv("TMPDIR");
    std::string folder = configured != nullptr && *configured != '\0' ? configured : "/tmp/";
    if (folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

}  // namespace orvel::platform
