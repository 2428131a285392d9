#include "devices/serial/jt_page.h"

#include "devices/serial/xmodem.h"

namespace orvel {

std::size_t build_page(std::uint8_t page, std::uint8_t total, const std::uint8_t* data,
                       std::size_t length, byte_vector& out) {
    out.assign({0x01, ',', page, ',', total, ','});
    out.insert(out.end(), data, data + length);
    out.push_back('*');
    const std::uint16_t crc = xmodem_crc(out.data(), out.size());
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
    out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return out.size();
}

void build_image_command(const std::string& leading_text, unsigned hole, byte_vector& out) {
    static const std::string keyword = "$SENDIMAGE*";
    out.assign(keyword.begin(), keyword.end());
    out.insert(out.end(), leading_text.begin(), leading_text.end());
    out.push_back(',');
    out.push_back(hole > 9 ? '1' : '0');
    out.push_back(static_cast<std::uint8_t>('0' + hole % 10));
    out.push_back(0x00);
}

}  // namespace orvel
