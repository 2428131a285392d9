#include "devices/serial/tavlin_message.h"

#include <algorithm>
#include <iterator>

namespace orvel {

namespace {

constexpr std::uint8_t trailer[] = {0xA0, 0xA2, 0x00, 0x02, 0xC6, 0x00, 0x00, 0xC6, 0xB0, 0xB3};
// The unit's receive buffer; the frame takes 8 bytes of it and the trailer may take 10.
constexpr std::size_t max_text = 1024 - 18;

}  // namespace

std::size_t build_message(std::uint8_t type, const std::string& text, byte_vector& out) {
    const std::size_t text_length = std::min(text.size(), max_text);
    const std::size_t length = text_length + 2;
    out.assign({0xA0, 0xA2, static_cast<std::uint8_t>(length >> 8),
                static_cast<std::uint8_t>(length & 0xFF), 0xB6, type});
    out.insert(out.end(), text.begin(), text.begin() + text_length);
    std::uint32_t sum = 0;
    for (std::size_t i = 4; i < out.size(); ++i) {
        sum += out[i];
    }
    sum &= 0x7FFF;
    out.push_back(static_cast<std::uint8_t>(sum >> 8));
    out.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    out.push_back(0xB0);
    out.push_back(0xB3);
    if ((sum & 0xFF) == 0xB0) {
        out.insert(out.end(), std::begin(trailer), std::end(trailer));
    }
    return out.size();
}

bool reply_of(const byte_vector& reply, std::uint8_t type, std::string& text) {
    const std::size_t size = reply.size();
    if (size <= 7 || reply[5] != type || reply[0] != 0xA0 || reply[1] != 0xA2 ||
        reply[size - 2] != 0xB0 || reply[size - 1] != 0xB3) {
        return false;
    }
    const std::size_t length = (reply[2] << 8) | reply[3];
    // The text must lie inside what came, before the sum and the end mark.
    if (length < 2 || length + 8 > size) {
        return false;
    }
    text.assign(reply.begin() + 6, reply.begin() + 6 + (length - 2));
    return true;
}

bool held_course_name(const std::string& text, std::string& held) {
    const std::size_t comma = text.size() > 1 ? text.find(',') : std::string::npos;
    if (comma == std::string::npos || comma >= text.size() - 1) {
        return false;
    }
    held = text.substr(comma + 1);
    return true;
}

}  // namespace orvel
