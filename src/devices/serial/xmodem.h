// XMODEM's CRC-16 (polynomial 0x1021, initial value 0, no reflection, no final XOR), which
// guards JT pages and Vemo blocks, and the 128-byte block in which Vemo units take a course.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/data_stream.h"

namespace orvel {

inline constexpr std::size_t xmodem_block_data = 128;

std::uint16_t xmodem_crc(const std::uint8_t* bytes, std::size_t count);

// 01, the block number, its complement, 128 data bytes and their CRC (big-endian). Clears
// out and fills it.
void xmodem_block(std::uint8_t number, const std::uint8_t* data, byte_vector& out);

}  // namespace orvel
