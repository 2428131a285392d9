#include "platform/volume_root.h"

#include "base/log_hub.h"
#include "platform/file_ops.h"

namespace orvel::platform {

bool split_relative(const std::string& root, const std::string& relative,
                    std::vector<std::string>& parts) {
    parts.clear();
    std::string part;
    const auto take = [&]() {
        if (part == "..") {
            log(3, "Refused %s%s: it leads outside the volume", root.c_str(), relative.c_str());
            return false;
        }
        if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
        return true;
    };
    for (const char c : relative) {
        if (c == '/' || c == path_separator()) {
            if (!take()) {
                return false;
            }
        } else {
            part += c;
        }
    }
    return take();
}

void log_refusal(const std::string& path, const char* what, const char* wanted) {
    log(3, "Refused %s: %s stands there, not %s", path.c_str(), what, wanted);
}

std::string volume_root::path_of(const std::string& relative) const {
    return root_ + relative;
}

}  // namespace orvel::platform
