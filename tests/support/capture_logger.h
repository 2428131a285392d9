// Collects the log lines of a test; registered for its lifetime.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/log_hub.h"

namespace orvel::test {

// The logged message of one envelope line.
std::string message_of_line(const std::string& line);

class capture_logger : public base_logger {
public:
    capture_logger() { add_logger(this); }
    ~capture_logger() { remove_logger(this); }
    capture_logger(const capture_logger&) = delete;
    capture_logger& operator=(const capture_logger&) = delete;

    void write(const std::string& line) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
    }

    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

    // The Data part of every line, unescaped when it is a JSON string.
    std::vector<std::string> messages() const;
    bool contains(const std::string& message) const;
    std::size_t count(const std::string& message) const;
    // True when some message contains the fragment.
    bool mentions(const std::string& fragment) const;
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace orvel::test
