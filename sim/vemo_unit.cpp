#include "sim/vemo_unit.h"

#include <algorithm>

#include "devices/serial/xmodem.h"

namespace orvel::test {

namespace {

constexpr std::uint8_t ack = 0x06;
constexpr std::uint8_t nak = 0x15;
constexpr std::size_t block_size = 133;

// Text commands end with their zero byte; a block is 133 bytes; EOT is one.
std::size_t frame(const byte_vector& pending) {
    switch (pending[0]) {
        case '$': {
            const auto end = std::find(pending.begin(), pending.end(), 0);
            return end == pending.end() ? 0 : static_cast<std::size_t>(end - pending.begin()) + 1;
        }
        case 0x01:
            return block_size;
        case 0x04:
            return 1;
        default:
            return framed_line::skip_byte;
    }
}

byte_vector line_of(const std::string& text) {
    byte_vector bytes(text.begin(), text.end());
    bytes.push_back('\r');
    return bytes;
}

}  // namespace

vemo_unit::vemo_unit()
    : line_(frame, [this](const byte_vector& message) { return answer(message); }) {}

void vemo_unit::set_faults(const vemo_faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

std::vector<std::string> vemo_unit::announced() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return announced_;
}

byte_vector vemo_unit::course() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return course_;
}

std::size_t vemo_unit::blocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_;
}

bool vemo_unit::ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

byte_vector vemo_unit::answer(const byte_vector& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (message[0] == 0x04) {
        ended_ = true;
        return {ack};
    }
    if (message[0] == 0x01) {
        const std::uint8_t number = message[1];
        const std::uint16_t crc = xmodem_crc(message.data() + 3, 128);
        if (number == 0 || message[2] != 0xFF - number || message[131] != crc >> 8 ||
            message[132] != (crc & 0xFF)) {
            return {nak};
        }
        // A block sent again after a lost answer lands where it did the first time.
        const std::size_t offset = (number - 1) * 128;
        course_.resize(std::max(course_.size(), offset + 128));
        std::copy(message.begin() + 3, message.begin() + 131, course_.begin() + offset);
        ++blocks_;
        return {ack};
    }
    const std::string text(message.begin(), message.end() - 1);  // without the zero byte
    if (text == "$FCON\r") {
        return line_of(faults_.busy ? "$BDCN" : "$OKCN");
    }
    if (text == "$EXIT\r") {
        return line_of("$EXCN");
    }
    if (text == "$STRT\r") {
        return faults_.no_start ? line_of("$BDST") : byte_vector{'C'};
    }
    if (text.rfind("$NCFS ", 0) == 0 && text.back() == '\r') {
        if (faults_.full) {
            return line_of("$BDFS");
        }
        announced_.push_back(text.substr(6, text.size() - 7));
        course_.clear();
        blocks_ = 0;
        ended_ = false;
        return line_of("$OKFS");
    }
    return line_of("$BDXX");
}

}  // namespace orvel::test
