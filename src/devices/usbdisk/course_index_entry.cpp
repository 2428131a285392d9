#include "devices/usbdisk/course_index_entry.h"

#include <algorithm>

namespace orvel {

std::uint32_t course_index_entry::offset() const {
    return number_at(8, 4);
}

void course_index_entry::set_offset(std::uint32_t offset) {
    put_number(8, 4, offset);
}

std::uint16_t course_index_entry::course_id() const {
    return static_cast<std::uint16_t>(number_at(12, 2));
}

void course_index_entry::set_course_id(std::uint16_t id) {
    put_number(12, 2, id);
}

std::uint16_t course_index_entry::name_record() const {
    return static_cast<std::uint16_t>(number_at(26, 2));
}

void course_index_entry::put_text(std::size_t offset, const std::string& text) {
    std::copy_n(text.begin(), std::min(text.size(), size - offset), bytes.begin() + offset);
}

std::string course_index_entry::text_at(std::size_t offset) const {
    const auto begin = bytes.begin() + offset;
    return std::string(begin, std::find(begin, bytes.end(), std::uint8_t{0}));
}

std::uint32_t course_index_entry::number_at(std::size_t offset, std::size_t width) const {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
        value = (value << 8) | bytes[offset + i];
    }
    return value;
}

void course_index_entry::put_number(std::size_t offset, std::size_t width, std::uint32_t value) {
    for (std::size_t i = 0; i < width; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace orvel
