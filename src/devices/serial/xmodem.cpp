#include "devices/serial/xmodem.h"

#include <boost/crc.hpp>

namespace orvel {

std::uint16_t xmodem_crc(const std::uint8_t* bytes, std::size_t count) {
    boost::crc_optimal<16, 0x1021, 0, 0, false, false> crc;
    crc.process_bytes(bytes, count);
    return crc.checksum();
}

void xmodem_block(std::uint8_t number, const std::uint8_t* data, byte_vector& out) {
    out.assign({0x01, number, static_cast<std::uint8_t>(0xFF - number)});
    out.insert(out.end(), data, data + xmodem_block_data);
    const std::uint16_t crc = xmodem_crc(data, xmodem_block_data);
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
    out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
}

}  // namespace orvel
