#include "sim/jt_unit.h"

#include <algorithm>
#include <cstring>

#include "devices/serial/xmodem.h"

namespace orvel::test {

namespace {

constexpr std::uint8_t ack = 0x06;
constexpr std::uint8_t eot = 0x04;
constexpr std::uint8_t nak = 0x15;
constexpr std::size_t page_data = 119;

bool starts(const byte_vector& bytes, const char* text) {
    const std::size_t length = std::strlen(text);
    return bytes.size() >= length && std::memcmp(bytes.data(), text, length) == 0;
}

// The data length of a page: a course is 40 pages ending with 17 bytes, an image 14 pages
// ending with 88.
std::size_t data_length(std::uint8_t page, std::uint8_t total) {
    if (page < total) {
        return page_data;
    }
    return total == 40 ? 17 : 88;
}

}  // namespace

jt_unit::jt_unit()
    : line_([](const byte_vector& pending) { return frame(pending); },
            [this](const byte_vector& message) { return answer(message); }) {}

void jt_unit::set_faults(const jt_faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

byte_vector jt_unit::course() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return course_;
}

std::vector<std::string> jt_unit::image_commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return image_commands_;
}

std::vector<byte_vector> jt_unit::images() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return images_;
}

std::size_t jt_unit::frame(const byte_vector& pending) {
    if (pending[0] == 0x01) {
        return pending.size() < 6 ? 0 : data_length(pending[2], pending[4]) + 9;
    }
    if (pending[0] != '$') {
        return framed_line::skip_byte;
    }
    if (pending.size() < 6) {
        return 0;
    }
    if (starts(pending, "$DELF*")) {
        return 8;
    }
    if (starts(pending, "$SEND*")) {
        return 6;
    }
    const auto end = std::find(pending.begin(), pending.end(), 0);
    return end == pending.end() ? 0 : static_cast<std::size_t>(end - pending.begin()) + 1;
}

byte_vector jt_unit::answer(const byte_vector& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (message[0] == 0x01) {
        return take_page(message);
    }
    if (starts(message, "$DELF*")) {
        return {'#'};
    }
    if (starts(message, "$SEND*")) {
        if (faults_.full) {
            return {'"'};
        }
        course_.clear();
        sequence_ = &course_;
        return {ack};
    }
    if (starts(message, "$SENDIMAGE*")) {
        image_commands_.emplace_back(message.begin(), message.end() - 1);
        images_.emplace_back();
        sequence_ = &images_.back();
        return {ack};
    }
    return {nak};
}

byte_vector jt_unit::take_page(const byte_vector& page) {
    const std::size_t crc_at = page.size() - 2;
    const std::uint16_t crc = xmodem_crc(page.data(), crc_at);
    const std::uint8_t number = page[2];
    const std::uint8_t total = page[4];
    if (sequence_ == nullptr || page[crc_at - 1] != '*' || page[crc_at] != crc >> 8 ||
        page[crc_at + 1] != (crc & 0xFF) || number == 0 || number > total ||
        (sequence_ == &course_ && number == faults_.refused_page)) {
        return {nak};
    }
    // A page sent again after a lost answer lands where it did the first time.
    const std::size_t offset = (number - 1) * page_data;
    const std::size_t length = crc_at - 7;
    sequence_->resize(std::max(sequence_->size(), offset + length));
    std::copy(page.begin() + 6, page.begin() + 6 + length, sequence_->begin() + offset);
    return {number == total ? eot : ack};
}

}  // namespace orvel::test
