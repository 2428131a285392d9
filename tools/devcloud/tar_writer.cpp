#include "devcloud/tar_writer.h"

#include <cstdio>
#include <stdexcept>

namespace orvel::devcloud {

namespace {

constexpr std::size_t block = 512;

void put_octal(std::string& header, std::size_t at, std::size_t width, unsigned long long value) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*llo", static_cast<int>(width - 1), value);
    header.replace(at, width - 1, text);
}

}  // namespace

void tar_writer::add_file(const std::string& name, const std::string& content) {
    if (name.empty() || name.size() > 100) {
        throw std::invalid_argument("tar entry name of " + std::to_string(name.size()) + " bytes");
    }
    std::string header(block, '\0');
    header.replace(0, name.size(), name);
    put_octal(header, 100, 8, 0644);             // mode
    put_octal(header, 108, 8, 0);                // owner
    put_octal(header, 116, 8, 0);                // group
    put_octal(header, 124, 12, content.size());  // size
    put_octal(header, 136, 12, 0);               // modification time
    header[156] = '0';
    header.replace(257, 6, std::string("ustar\0", 6));
    header.replace(263, 2, "00");
    // The checksum is summed with its own field read as blanks.
    header.replace(148, 8, 8, ' ');
    unsigned sum = 0;
    for (const char c : header) {
        sum += static_cast<unsigned char>(c);
    }
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "%06o", sum);
    header.replace(148, 7, std::string(checksum, 6) + '\0');
    bytes_ += header;
    bytes_ += content;
    bytes_.append((block - content.size() % block) % block, '\0');
}

std::string tar_writer::finish() const {
    return bytes_ + std::string(2 * block, '\0');
}

}  // namespace orvel::devcloud
