#include "devices/serial/reply_reader.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace orvel {

reply_reader::reply_reader(std::uint8_t terminator) : chunk_(chunk_size), terminator_(terminator) {
    received_.reserve(chunk_size);
}

std::uint32_t reply_reader::read(platform::serial_port& port, std::uint32_t max_length,
                                 std::uint32_t timeout_ms) {
    using steady = std::chrono::steady_clock;
    const steady::time_point start = steady::now();
    bool done = false;
    std::uint32_t total = 0;
    while (steady::now() - start <= std::chrono::milliseconds(timeout_ms)) {
        // A failed queue count (-1) is taken as bytes waiting: the read then tells.
        if (port.available() == 0) {
            if (done) {
                return total;
            }
            // Polls the idle line without keeping a core busy.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        const std::size_t length = port.read(chunk_.data(), chunk_.size());
        // A reply longer than the reserved space is not one this reader takes.
        if (received_.size() + length <= received_.capacity()) {
            received_.insert(received_.end(), chunk_.begin(), chunk_.begin() + length);
        }
        total += static_cast<std::uint32_t>(length);
        done = length > 0 &&
               (length >= std::min(chunk_size, max_length) || chunk_[length - 1] == terminator_);
    }
    return done ? total : 0;
}

void reply_reader::clear() {
    received_.clear();
    state = 0;
}

}  // namespace orvel
