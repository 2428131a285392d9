#include "cloud/base64.h"

namespace orvel {

namespace {

int sextet(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

}  // namespace

byte_vector decode_base64(std::string_view text) {
    byte_vector out;
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t group = 0;
    int filled = 0;
    for (const char c : text) {
        const int value = sextet(c);
        if (value < 0) {
            break;  // "=" or anything else ends the data
        }
        group = (group << 6) | static_cast<std::uint32_t>(value);
        if (++filled == 4) {
            out.push_back(static_cast<std::uint8_t>(group >> 16));
            out.push_back(static_cast<std::uint8_t>(group >> 8));
            out.push_back(static_cast<std::uint8_t>(group));
            group = 0;
            filled = 0;
        }
    }
    if (filled == 2) {
        out.push_back(static_cast<std::uint8_t>(group >> 4));
    } else if (filled == 3) {
        out.push_back(static_cast<std::uint8_t>(group >> 10));
        out.push_back(static_cast<std::uint8_t>(group >> 2));
    }
    return out;
}

}  // namespace orvel
