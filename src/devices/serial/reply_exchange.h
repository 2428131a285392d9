// The command-and-reply step that the JT, Zel, Vemo and Tavlin protocols share: the command
// is written, the unit given time to act, and its reply collected, with a number of tries.
// What a reply must say is up to each protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/events.h"
#include "devices/serial/reply_reader.h"
#include "platform/serial_port.h"

namespace orvel {

struct exchange_rules {
    unsigned tries;            // writes of the command before the unit counts as silent
    unsigned reads;            // reads of the reply after each write
    std::uint32_t max_length;  // the reader's maximum length
    std::uint32_t timeout_ms;  // of each read
    const char* line_end;      // ends the log line of a short write
};

// True once a reply has come; the reader then holds it. Raises 1500 when the interrupt event
// is set before a write or after a read that brought nothing, so a closed page or a shutdown
// waits for one read at most.
bool collect_reply(platform::serial_port& port, reply_reader& reader, event_base& interrupt,
                   const std::uint8_t* bytes, std::size_t count, const exchange_rules& rules);

// The reply as text, up to its first zero byte, for the log.
std::string reply_text(const reply_reader& reader);

}  // namespace orvel
