#include "devices/usbdisk/relative_name.h"

namespace orvel {

namespace {

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

bool stays_below_root(const std::string& name) {
    if (name.empty() || is_separator(name.front()) || name.find('\0') != std::string::npos ||
        (name.size() > 1 && name[1] == ':')) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !is_separator(name[end])) {
            ++end;
        }
        if (name.compare(start, end - start, "..") == 0) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

}  // namespace orvel
