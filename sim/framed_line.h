// The far end of a serial line for units whose messages tell their own length: what the
// agent writes is cut into messages, each recorded and given the unit's answer. The line
// knows no protocol; the unit supplies the framing and the answers. A unit can be made to go
// silent, as one that hangs or is unplugged does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/data_stream.h"
#include "sim/pty_line.h"

namespace orvel::test {

// How the simulated Prolific-bridged units show in the port list.
inline constexpr const char* prolific_name = "Prolific USB-to-Serial Comm Port";

class framed_line {
public:
    static constexpr std::size_t skip_byte = static_cast<std::size_t>(-1);
    // The length of the message at the front of the pending bytes; 0 while more are
    // needed; skip_byte when no message starts with the first byte.
    using framer = std::function<std::size_t(const byte_vector& pending)>;
    // The bytes to answer a message with; none for no answer. Called on the line's thread.
    using answerer = std::function<byte_vector(const byte_vector& message)>;

    framed_line(framer frame, answerer answer);

    const std::string& path() const { return line_.path(); }
    std::string port_entry() const { return line_.port_entry(prolific_name); }

    // After that many more answers, messages are still taken but never answered.
    void go_silent(std::size_t after_answers = 0);
    void speak();
    // Every answer from now on is this noise instead; empty: the true answers again.
    void babble(byte_vector noise);
    // The line goes down, as a pulled unit's does, when that many more messages have come.
    void hang_up_after(std::size_t messages);
    // Every message received so far, in order.
    std::vector<byte_vector> messages() const;

private:
    void on_bytes(const std::uint8_t* bytes, std::size_t count);

    framer frame_;
    answerer answer_;
    byte_vector pending_;  // the line's thread alone
    mutable std::mutex mutex_;
    std::vector<byte_vector> messages_;
    std::optional<std::size_t> answers_left_;
    byte_vector noise_;
    std::optional<std::size_t> messages_left_;
    // Last: its thread ends before the rest goes.
    pty_line line_;
};

}  // namespace orvel::test
