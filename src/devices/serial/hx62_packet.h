// The framing of the HX62 family's flash protocol and its three commands. A packet is
// A0 A2, the payload length (15 bits, big-endian), the payload (message id first), the
// payload's 15-bit sum (big-endian) and B0 B3.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/data_stream.h"

namespace orvel {

namespace hx62 {

inline constexpr std::size_t sector_size = 4096;
inline constexpr std::size_t frame_overhead = 8;
// The longest payload a receiver takes: a store command.
inline constexpr std::size_t max_payload = 4102;

inline constexpr std::uint8_t cmd_store = 0x30;
inline constexpr std::uint8_t reply_store = 0x31;
inline constexpr std::uint8_t cmd_erase = 0x32;
inline constexpr std::uint8_t cmd_read = 0x33;
inline constexpr std::uint8_t reply_data = 0x34;

inline constexpr std::uint32_t sector_address(std::uint32_t sector) {
    return sector * static_cast<std::uint32_t>(sector_size);
}

// The 15-bit sum that closes a packet.
std::uint16_t payload_sum(const std::uint8_t* payload, std::size_t length);

}  // namespace hx62

// Clears out and appends the framed packet.
void build_packet(const std::uint8_t* payload, std::size_t length, byte_vector& out);
void build_packet(const byte_vector& payload, byte_vector& out);

// The payloads of the three commands for the sector at a byte address.
byte_vector read_command(std::uint32_t address);
byte_vector erase_command(std::uint32_t address);
// The image is padded with `fill` up to a whole sector; it must not be longer than one.
byte_vector store_command(std::uint32_t address, const std::uint8_t* image, std::size_t size,
                          std::uint8_t fill);

}  // namespace orvel
