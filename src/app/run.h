// The whole life of the agent, from the log file to "app exited".
#pragma once

#include <string>

namespace orvel {

// 0, or -1 when the log file cannot be set up.
int run(const std::string& key_path, const std::string& cert_path);

}  // namespace orvel
