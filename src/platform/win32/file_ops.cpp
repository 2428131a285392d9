#include "platform/file_ops.h"

#include <windows.h>

#include <limits>

#include "base/log_hub.h"
#include "platform/system_error.h"

namespace orvel::platform {

char path_separator() {
    return '\\';
}

bool create_dirs(std::string& path) {
    const std::size_t colon = path.find(':');
    if (path.empty() || colon == std::string::npos) {
        return false;
    }
    // From past the drive's colon and the separator after it.
    for (std::size_t at = colon + 2; at < path.size(); ++at) {
        if (path[at] != '\\' && path[at] != '/') {
            continue;
        }
        path[at] = '\\';
        const std::string prefix = path.substr(0, at);
        if (::CreateDirectoryA(prefix.c_str(), nullptr) == FALSE) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_ALREADY_EXISTS) {
                log(3, "Failed to create dir (%d): %s", static_cast<int>(error), prefix.c_str());
                return false;
            }
        }
    }
    return true;
}

int copy_into_new_file(const std::string& source, const std::string& destination) {
    // Fails when the destination exists, as an exclusive create does.
    if (::CopyFileA(source.c_str(), destination.c_str(), TRUE) == FALSE) {
        return static_cast<int>(::GetLastError());
    }
    return 0;
}

std::uint64_t get_free_space(const std::string& directory) {
    ULARGE_INTEGER available{};
    if (::GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr) == FALSE) {
        log_system_error("get_free_space failed");
        return std::numeric_limits<std::uint64_t>::max();
    }
    return available.QuadPart;
}

std::string temp_dir() {
    // The user's own folder (its access list keeps other users out) unless TMP or TEMP
    // name another.
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer) {
        return {};
    }
    return std::string(buffer, length);
}

bool prepare_temp_dir(std::string& problem) {
    const std::string folder = temp_dir();
    if (folder.empty()) {
        problem = "GetTempPath: " + error_text(last_error());
        return false;
    }
    const std::string path = folder.substr(0, folder.size() - 1);
    if (::CreateDirectoryA(path.c_str(), nullptr) != FALSE) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
        problem = "cannot create " + path + ": " + error_text(static_cast<int>(error));
        return false;
    }
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        problem = path + " is not a folder";
        return false;
    }
    return true;
}

}  // namespace orvel::platform
