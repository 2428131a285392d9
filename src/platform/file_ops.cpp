#include "platform/file_ops.h"

#include <boost/filesystem/operations.hpp>

#include "app/log_hub.h"

namespace orvel::platform {

namespace fs = boost::filesystem;

bool remove(const std::string& path) {
    if (path.empty()) {
        return true;
    }
    boost::system::error_code ec;
    // A link is removed itself, whatever it points to.
    const fs::file_status status = fs::symlink_status(path, ec);
    if (!fs::exists(status) || fs::is_directory(status)) {
        return true;
    }
    if (!fs::remove(path, ec) && ec) {
        log(3, "remove failed with message %s (%s %d) for path %s.", ec.message().c_str(),
            ec.category().name(), ec.value(), path.c_str());
        return false;
    }
    return true;
}

}  // namespace orvel::platform
