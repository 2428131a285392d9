// The process's standard output and error, which libraries print their own logs to.
#pragma once

#include <cstdio>

namespace orvel::platform {

// Points standard output and standard error at the open file; false after logging.
bool point_standard_streams_at(std::FILE* file);

}  // namespace orvel::platform
