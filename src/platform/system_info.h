// What the agent runs on, for the log.
#pragma once

#include <string>

namespace orvel::platform {

// A short description of the operating system (system, release, machine); false after
// logging the failed call.
bool describe_os(std::string& description);

}  // namespace orvel::platform
