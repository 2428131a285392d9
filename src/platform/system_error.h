// The log line of a failed operating-system call: "<operation>: <number>. <text>".
#pragma once

#include <string>
#include <system_error>

namespace orvel::platform {

// The calling thread's last system error number.
int last_error();
// The system's text for an error number; empty when it has none.
std::string error_text(int error);
// The C runtime's text for an errno value, which stdio and the file functions set; on
// POSIX systems the same numbers as the system's.
std::string runtime_error_text(int error);
// A file-system library error as the system numbers it, for the log: the library reports
// some in the portable category.
std::error_code as_system_error(const std::error_code& error);
// True for the errors by which another process keeps a file from being removed.
bool is_held_by_another(const std::error_code& error);
void log_system_error(const char* operation, int error);
// With the calling thread's last error number.
void log_system_error(const char* operation);

}  // namespace orvel::platform
