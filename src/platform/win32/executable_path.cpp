#include "platform/executable_path.h"

#include <windows.h>

#include <vector>

namespace orvel::platform {

std::string executable_dir() {
    // MAX_PATH is only where the buffer starts: an install folder may lie deeper, and a
    // path cut short would name another folder.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::vector<char> buffer(size);
        const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), size);
        if (length == 0) {
            return {};
        }
        if (length < size) {
            const std::string path(buffer.data(), length);
            const std::size_t slash = path.rfind('\\');
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
    }
    return {};
}

}  // namespace orvel::platform
