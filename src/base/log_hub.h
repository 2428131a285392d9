// The process-wide log: every line goes, as one JSON envelope, to every registered logger.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/printf_format.h"

namespace orvel {

// Receives finished lines. Loggers are owned by their creators and removed before they die.
class base_logger {
public:
    virtual void write(const std::string& line) = 0;

protected:
    ~base_logger() = default;
};

class log_hub {
public:
    static log_hub& instance();

    void add_logger(base_logger* logger);
    void remove_logger(base_logger* logger);
    void vlog(int level, const char* format, va_list args);

    log_hub(const log_hub&) = delete;
    log_hub& operator=(const log_hub&) = delete;

private:
    log_hub() = default;

    struct entry {
        std::int32_t threshold;
        base_logger* logger;
    };

    std::mutex mutex_;
    std::vector<entry> entries_;
};

void add_logger(base_logger* logger);
void remove_logger(base_logger* logger);
void log(int level, const char* format, ...) ORVEL_PRINTF_FORMAT(2, 3);

// The message as the line's Data: itself when it looks like an object, else a JSON string.
std::string log_data(std::string_view message);
// {"Time":"<time>", "Data":<data>}
std::string log_line(std::string_view time, std::string_view message);
// The local time as the envelope shows it.
std::string local_time_text();

}  // namespace orvel
