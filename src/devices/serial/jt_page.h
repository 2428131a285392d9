// The messages of the JT protocol: numbered pages of course bytes, each closed by '*' and
// its CRC-16, and the command that announces a hole image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/data_stream.h"

namespace orvel {

// 01 ',' page ',' total ',' data '*' CRC (big-endian, over everything before it). Clears out
// and fills it; the length of the page.
std::size_t build_page(std::uint8_t page, std::uint8_t total, const std::uint8_t* data,
                       std::size_t length, byte_vector& out);

// "$SENDIMAGE*", the course's leading text, ',', the hole as two digits (the tens only ever
// 0 or 1) and a zero byte, which is sent too.
void build_image_command(const std::string& leading_text, unsigned hole, byte_vector& out);

}  // namespace orvel
