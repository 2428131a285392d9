// Where the running executable lives, for the files installed beside it.
#pragma once

#include <string>

namespace orvel::platform {

// The executable's folder ending with the separator; empty when it cannot be found (the
// files beside it are then looked up in the current directory).
std::string executable_dir();

}  // namespace orvel::platform
