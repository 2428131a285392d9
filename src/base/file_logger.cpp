#include "base/file_logger.h"

namespace orvel {

void file_logger::write(const std::string& line) {
    if (stream_ == nullptr) {
        return;
    }
    // A full disk must not stop the agent: write failures are ignored.
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fputc('\n', stream_);
    std::fflush(stream_);
}

}  // namespace orvel
