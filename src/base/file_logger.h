// Writes every log line into the open log file.
#pragma once

#include <cstdio>

#include "base/log_hub.h"

namespace orvel {

class file_logger final : public base_logger {
public:
    // The stream stays owned by the log file; this only writes into it.
    explicit file_logger(std::FILE* stream) : stream_(stream) {}

    void write(const std::string& line) override;

private:
    std::FILE* stream_;
};

}  // namespace orvel
