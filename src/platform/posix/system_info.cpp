#include "platform/system_info.h"

#include <sys/utsname.h>

#include "platform/system_error.h"

namespace orvel::platform {

bool describe_os(std::string& description) {
    utsname name{};
    if (uname(&name) != 0) {
        log_system_error("uname");
        return false;
    }
    description = std::string(name.sysname) + " " + name.release + " " + name.machine;
    return true;
}

}  // namespace orvel::platform
