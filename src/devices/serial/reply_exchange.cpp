#include "devices/serial/reply_exchange.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "base/failures.h"
#include "base/log_hub.h"

namespace orvel {

namespace {

// The units act on a command before they answer it; a read started sooner only waits.
constexpr std::chrono::milliseconds answer_pause(250);

void stop_if_interrupted(event_base& interrupt) {
    if (interrupt.wait(0)) {
        raise_sync_error(sync_error_code::interrupted);
    }
}

}  // namespace

bool collect_reply(platform::serial_port& port, reply_reader& reader, event_base& interrupt,
                   const std::uint8_t* bytes, std::size_t count, const exchange_rules& rules) {
    for (unsigned attempt = 0; attempt < rules.tries; ++attempt) {
        stop_if_interrupted(interrupt);
        const std::size_t sent = port.write(bytes, count);
        port.flush();
        std::this_thread::sleep_for(answer_pause);
        if (sent < count) {
            log(3, "m_port.send failed. To send: %zu. Sent: %zu%s", count, sent, rules.line_end);
            continue;
        }
        reader.clear();
        for (unsigned read = 0; read < rules.reads; ++read) {
            if (reader.read(port, rules.max_length, rules.timeout_ms) != 0) {
                return true;
            }
            stop_if_interrupted(interrupt);
        }
    }
    return false;
}

std::string reply_text(const reply_reader& reader) {
    const byte_vector& bytes = reader.received();
    return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
}

}  // namespace orvel
