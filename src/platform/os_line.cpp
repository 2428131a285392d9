#include "platform/os_line.h"

#include <string>

#include "base/log_hub.h"
#include "platform/system_info.h"

namespace orvel {

void log_os_line() {
    std::string description;
    if (platform::describe_os(description)) {
        log(2, "OS: %s", description.c_str());
    }
}

}  // namespace orvel
