// Collects a unit's reply to one command for the JT, Zel, Vemo and Tavlin protocols: a reply
// is complete once a chunk ends in the protocol's terminator (or fills the asked length)
// and the line then goes quiet.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/data_stream.h"
#include "platform/serial_port.h"

namespace orvel {

class reply_reader {
public:
    static constexpr std::uint32_t chunk_size = 1024;

    explicit reply_reader(std::uint8_t terminator);

    // The bytes collected, or 0 when no complete reply came within the time. A maximum
    // length of 0 makes any chunk complete.
    std::uint32_t read(platform::serial_port& port, std::uint32_t max_length,
                       std::uint32_t timeout_ms);
    // Before a new command: the reply so far is dropped.
    void clear();

    const byte_vector& received() const { return received_; }
    std::uint32_t state = 0;

private:
    std::vector<std::uint8_t> chunk_;
    byte_vector received_;
    std::uint8_t terminator_;
};

}  // namespace orvel
