#include "devices/serial/hx62_packet.h"

namespace orvel {

namespace {

void append_address(byte_vector& payload, std::uint32_t address) {
    for (int shift = 0; shift < 32; shift += 8) {
        payload.push_back(static_cast<std::uint8_t>(address >> shift));
    }
}

}  // namespace

std::uint16_t hx62::payload_sum(const std::uint8_t* payload, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) {
        sum += payload[i];
    }
    return static_cast<std::uint16_t>(sum & 0x7FFF);
}

void build_packet(const std::uint8_t* payload, std::size_t length, byte_vector& out) {
    out.clear();
    out.push_back(0xA0);
    out.push_back(0xA2);
    out.push_back(static_cast<std::uint8_t>((length >> 8) & 0x7F));
    out.push_back(static_cast<std::uint8_t>(length & 0xFF));
    out.insert(out.end(), payload, payload + length);
    const std::uint16_t sum = hx62::payload_sum(payload, length);
    out.push_back(static_cast<std::uint8_t>(sum >> 8));
    out.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    out.push_back(0xB0);
    out.push_back(0xB3);
}

void build_packet(const byte_vector& payload, byte_vector& out) {
    build_packet(payload.data(), payload.size(), out);
}

byte_vector read_command(std::uint32_t address) {
    byte_vector payload{hx62::cmd_read};
    append_address(payload, address);
    // The byte count, always one sector.
    payload.push_back(static_cast<std::uint8_t>(hx62::sector_size & 0xFF));
    payload.push_back(static_cast<std::uint8_t>(hx62::sector_size >> 8));
    return payload;
}

byte_vector erase_command(std::uint32_t address) {
    byte_vector payload{hx62::cmd_erase};
    append_address(payload, address);
    return payload;
}

byte_vector store_command(std::uint32_t address, const std::uint8_t* image, std::size_t size,
                          std::uint8_t fill) {
    byte_vector payload{hx62::cmd_store};
    payload.reserve(hx62::max_payload);
    append_address(payload, address);
    payload.push_back(0x00);
    payload.insert(payload.end(), image, image + size);
    payload.resize(hx62::max_payload, fill);
    return payload;
}

}  // namespace orvel
