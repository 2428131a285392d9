// Tar archives built block by block: the course packages of the development cloud, and
// archives for tests, well-formed or not.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orvel::test {

class tar_builder {
public:
    // One POSIX header block: the name (cut to 100 bytes), the size in octal, the type, the
    // name's prefix and the link target when given, and the checksum tar itself checks.
    tar_builder& header(const std::string& name, std::uint64_t size, char type,
                        const std::string& prefix = "", const std::string& link = "");
    // Header, content and the zero bytes up to the next block.
    tar_builder& file(const std::string& name, const std::string& content, char type = '0');
    // A GNU 'L' entry that names the entry after it.
    tar_builder& long_name(const std::string& name);
    // A pax header, 'x' (for the next entry) or 'g' (global), of "key=value" records.
    tar_builder& pax(char type, const std::vector<std::pair<std::string, std::string>>& records);
    // The two zero blocks that end an archive.
    tar_builder& end();
    tar_builder& raw(const std::string& bytes);

    const std::string& bytes() const { return bytes_; }

private:
    tar_builder& data(const std::string& content);

    std::string bytes_;
};

}  // namespace orvel::test
