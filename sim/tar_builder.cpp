#include "sim/tar_builder.h"

#include <algorithm>
#include <cstdio>

namespace orvel::test {

namespace {

constexpr std::size_t block = 512;

void put_text(std::string& header, std::size_t offset, std::size_t width, const std::string& text) {
    header.replace(offset, std::min(text.size(), width), text.substr(0, width));
}

void put_octal(std::string& header, std::size_t offset, std::size_t width, std::uint64_t value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*llo", static_cast<int>(width - 1),
                  static_cast<unsigned long long>(value));
    put_text(header, offset, width - 1, digits);
}

}  // namespace

tar_builder& tar_builder::header(const std::string& name, std::uint64_t size, char type,
                                 const std::string& prefix, const std::string& link) {
    std::string header(block, '\0');
    put_text(header, 0, 100, name);
    put_octal(header, 100, 8, 0644);
    put_octal(header, 108, 8, 0);
    put_octal(header, 116, 8, 0);
    put_octal(header, 124, 12, size);
    put_octal(header, 136, 12, 0);
    header[156] = type;
    put_text(header, 157, 100, link);
    put_text(header, 257, 6, std::string("ustar\0", 6));
    put_text(header, 263, 2, "00");
    put_text(header, 345, 155, prefix);
    // The checksum is taken with its own field as blanks.
    put_text(header, 148, 8, std::string(8, ' '));
    unsigned sum = 0;
    for (const char c : header) {
        sum += static_cast<unsigned char>(c);
    }
    put_octal(header, 148, 7, sum);
    bytes_ += header;
    return *this;
}

tar_builder& tar_builder::data(const std::string& content) {
    bytes_ += content;
    bytes_.append((block - content.size() % block) % block, '\0');
    return *this;
}

tar_builder& tar_builder::file(const std::string& name, const std::string& content, char type) {
    return header(name, content.size(), type).data(content);
}

tar_builder& tar_builder::long_name(const std::string& name) {
    const std::string content = name + '\0';
    return header("././@LongLink", content.size(), 'L').data(content);
}

tar_builder& tar_builder::pax(char type,
                              const std::vector<std::pair<std::string, std::string>>& records) {
    std::string content;
    for (const auto& [key, value] : records) {
        // The length counts its own digits.
        const std::size_t rest = 1 + key.size() + 1 + value.size() + 1;
        std::size_t length = rest + 1;
        while (std::to_string(length).size() + rest != length) {
            ++length;
        }
        content += std::to_string(length) + " " + key + "=" + value + "\n";
    }
    return header("PaxHeader", content.size(), type).data(content);
}

tar_builder& tar_builder::end() {
    bytes_.append(2 * block, '\0');
    return *this;
}

tar_builder& tar_builder::raw(const std::string& bytes) {
    bytes_ += bytes;
    return *this;
}

}  // namespace orvel::test
