// The run's log file in the temporary folder; the previous run's log is kept beside it.
#pragma once

#include <optional>
#include <string>

#include "base/file_logger.h"
#include "platform/stdio_file.h"

namespace orvel {

inline constexpr const char* log_file_name = "OrvelSync2_Service.log";
inline constexpr const char* previous_log_prefix = "copy_";

class log_file {
public:
    // Moves an existing log to its "copy_" name, opens a new one and registers its
    // file_logger. Throws what the file raises when it cannot be opened, and an
    // intl_exception when what it opened is not a regular file of the user's own.
    explicit log_file(const std::string& directory);
    // Removes the file logger, then flushes the file to disk and closes it.
    ~log_file();
    log_file(const log_file&) = delete;
    log_file& operator=(const log_file&) = delete;

    const std::string& path() const { return file_.path(); }
    std::FILE* stream() const { return file_.handle(); }

private:
    stdio_file file_;
    std::optional<file_logger> logger_;
};

}  // namespace orvel
