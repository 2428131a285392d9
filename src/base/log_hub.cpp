#include "base/log_hub.h"

#include <algorithm>
#include <cstdarg>
#include <ctime>

#include "base/format.h"
#include "platform/clock.h"

namespace orvel {

namespace {
constexpr std::int32_t every_level = 8;
}

log_hub& log_hub::instance() {
    static log_hub hub;
    return hub;
}

void log_hub::add_logger(base_logger* logger) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool known = std::any_of(entries_.begin(), entries_.end(),
                                   [logger](const entry& e) { return e.logger == logger; });
    if (!known) {
        entries_.push_back({every_level, logger});
    }
}

void log_hub::remove_logger(base_logger* logger) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [logger](const entry& e) { return e.logger == logger; }),
                   entries_.end());
}

void log_hub::vlog(int level, const char* format, va_list args) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool wanted = std::any_of(entries_.begin(), entries_.end(),
                                        [level](const entry& e) { return e.threshold >= level; });
        if (!wanted) {
            return;
        }
    }
    const std::string message = vformat_text(format, args);
    const std::string line = log_line(local_time_text(), message);
    // One lock over all loggers keeps every logger's lines in the same order.
    std::lock_guard<std::mutex> lock(mutex_);
    for (const entry& e : entries_) {
        e.logger->write(line);
    }
}

void add_logger(base_logger* logger) {
    log_hub::instance().add_logger(logger);
}

void remove_logger(base_logger* logger) {
    log_hub::instance().remove_logger(logger);
}

void log(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    log_hub::instance().vlog(level, format, args);
    va_end(args);
}

std::string log_data(std::string_view message) {
    if (!message.empty() && message.front() == '{' && message.back() == '}') {
        return std::string(message);
    }
    std::string data;
    data.reserve(message.size() + 2);
    data += '"';
    for (const char c : message) {
        switch (c) {
            case '\b':
                data += "\\b";
                break;
            case '\t':
                data += "\\t";
                break;
            case '\n':
                data += "\\n";
                break;
            case '\f':
                data += "\\f";
                break;
            case '\r':
                data += "\\r";
                break;
            case '"':
                data += "\\\"";
                break;
            case '/':
                data += "\\/";
                break;
            case '\\':
                data += "\\\\";
                break;
            default:
                data += c;
                break;
        }
    }
    data += '"';
    return data;
}

std::string log_line(std::string_view time, std::string_view message) {
    std::string line = "{\"Time\":\"";
    line += time;
    line += "\", \"Data\":";
    line += log_data(message);
    line += '}';
    return line;
}

std::string local_time_text() {
    std::tm local{};
    if (!platform::local_time(std::time(nullptr), local)) {
        return "0000-00-00 00:00:00";
    }
    return format_text("%04u-%02u-%02u %02u:%02u:%02u", unsigned(local.tm_year + 1900),
                       unsigned(local.tm_mon + 1), unsigned(local.tm_mday), unsigned(local.tm_hour),
                       unsigned(local.tm_min), unsigned(local.tm_sec));
}

}  // namespace orvel
