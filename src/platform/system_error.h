// The log line of a failed operating-system call: "<operation>: <number>. <text>".
#pragma once

#include <string>

namespace orvel::platform {

// The calling thread's last system error number.
int last_error();
// The system's text for an error number; empty when it has none.
std::string error_text(int error);
void log_system_error(const char* operation, int error);
// With the calling thread's last error number.
void log_system_error(const char* operation);

}  // namespace orvel::platform
