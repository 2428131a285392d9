// Finds HX62 packets in the bytes a unit sends: noise, broken frames and bad sums are
// skipped byte by byte, packets of other ids whole.
#pragma once

#include <cstdint>

#include "base/events.h"
#include "platform/data_stream.h"
#include "platform/serial_port.h"

namespace orvel {

// A matched packet: its id and the payload after the id.
struct hx62_message {
    std::uint32_t id = 0;
    byte_vector data;
};

class packet_reader {
public:
    static constexpr std::size_t read_size = 4110;
    static constexpr std::size_t received_reserve = 8220;

    enum match_result { no_start = 0, matched = 1, need_more = 2 };

    packet_reader();

    // Empties the received bytes and the matched message and starts the search afresh.
    void reset();
    // Appends bytes unless they would grow the received bytes past their reserved space
    // (then they are dropped: false); wakes a parser that waits for more.
    bool append(const std::uint8_t* bytes, std::size_t count);
    // Looks for a packet of the wanted id (0: any) in the received bytes. A matched packet
    // is removed with everything before it; with no start in sight everything is dropped.
    match_result match_packet(std::uint8_t wanted);
    // Reads from the port until a packet of the wanted id is matched (true) or 2 s have
    // passed (false). Raises 1500 when the interrupt event is set while the line is idle.
    bool read_packet(platform::serial_port& port, std::uint8_t wanted, event_base& interrupt);

    const hx62_message& message() const { return message_; }
    const byte_vector& received() const { return received_; }

private:
    enum class parse_state { searching, candidate, waiting };

    // Moves the scan position to the next byte that may start a packet; false when none.
    bool find_start();
    // Drops the bytes before the scan position and waits for more.
    match_result wait_for_more();

    byte_vector buffer_;
    byte_vector received_;
    parse_state state_ = parse_state::searching;
    std::int32_t scan_ = 0;
    hx62_message message_;
};

}  // namespace orvel
