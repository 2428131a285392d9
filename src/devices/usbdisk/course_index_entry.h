// One 32-byte entry of a tar-package unit's course index (little-endian): where a course's
// data lies and which record of which name file holds its name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvel {

class course_index_entry {
public:
    static constexpr std::size_t size = 32;

    // Bytes 8-11: the course's byte offset in its data file.
    std::uint32_t offset() const;
    void set_offset(std::uint32_t offset);
    // Bytes 12-13.
    std::uint16_t course_id() const;
    void set_course_id(std::uint16_t id);
    // From byte 14 up to the first zero byte: a four-character name runs on into the
    // data file's field, as the unit reads it.
    std::string folder_name() const { return text_at(14); }
    // Byte 18 on, zero-terminated.
    std::string data_file_name() const { return text_at(18); }
    // Byte 22 on, zero-terminated; empty when the course has no name record.
    std::string name_file_name() const { return text_at(22); }
    // Bytes 26-27: the record's number in the name file.
    std::uint16_t name_record() const;
    // The text's bytes from the offset on, without a terminator of their own.
    void put_text(std::size_t offset, const std::string& text);

    std::array<std::uint8_t, size> bytes{};

private:
    // Up to the first zero byte or the entry's end.
    std::string text_at(std::size_t offset) const;
    std::uint32_t number_at(std::size_t offset, std::size_t width) const;
    void put_number(std::size_t offset, std::size_t width, std::uint32_t value);
};

}  // namespace orvel
