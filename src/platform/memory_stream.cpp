#include "platform/memory_stream.h"

#include <cstring>
#include <limits>

#include "base/failures.h"
#include "base/log_hub.h"

namespace orvel {

namespace {

const std::string not_valid_text = " failed. Stream is not valid.";

// Positions are 32-bit; a move that would pass the last one must not wrap to a small
// position and let a later copy run outside the buffer.
std::uint32_t checked_end(std::uint32_t position, std::uint32_t count, const char* step) {
    const std::uint64_t end = static_cast<std::uint64_t>(position) + count;
    if (end > std::numeric_limits<std::uint32_t>::max()) {
        log(3, "%s failed. pos: %zu, count: %zu", step, static_cast<std::size_t>(position),
            static_cast<std::size_t>(count));
        throw intl_exception(failed_text(step));
    }
    return static_cast<std::uint32_t>(end);
}

}  // namespace

memory_stream::memory_stream(std::uint32_t reserved) {
    buffer_.reserve(reserved);
}

bool memory_stream::is_valid() {
    return !buffer_.empty();
}

std::uint32_t memory_stream::size() {
    return static_cast<std::uint32_t>(buffer_.size());
}

void memory_stream::clear() {
    rewind();
    buffer_.clear();
}

void memory_stream::rewind() {
    position_ = 0;
}

void memory_stream::skip(std::uint32_t count) {
    seek(checked_end(position_, count, "skip"));
}

void memory_stream::seek(std::uint32_t position) {
    if (position > buffer_.size()) {
        buffer_.resize(position, 0);
    }
    position_ = position;
}

std::uint32_t memory_stream::tell() {
    return position_;
}

void memory_stream::write(const void* bytes, std::uint32_t count) {
    const std::uint32_t end = checked_end(position_, count, "write");
    if (end > buffer_.size()) {
        buffer_.resize(end, 0);
    }
    if (count > 0) {
        std::memcpy(buffer_.data() + position_, bytes, count);
    }
    position_ = end;
}

void memory_stream::write(const byte_vector& data, std::uint32_t count) {
    if (data.size() < count) {
        log(3, "write failed. toWrite: %zu, size: %zu", static_cast<std::size_t>(count),
            data.size());
        throw intl_exception(failed_text("write"));
    }
    write(data.data(), count);
}

void memory_stream::write(const byte_vector& data) {
    write(data, static_cast<std::uint32_t>(data.size()));
}

void memory_stream::read_some(void* out, std::uint32_t max, std::uint32_t& count) {
    if (!is_valid()) {
        throw intl_exception("read" + not_valid_text);
    }
    const std::uint32_t left = size() - position_;
    count = max < left ? max : left;
    if (count > 0) {
        std::memcpy(out, buffer_.data() + position_, count);
    }
    position_ += count;
}

void memory_stream::read(void* out, std::uint32_t count) {
    if (!is_valid()) {
        throw intl_exception("read" + not_valid_text);
    }
    if (size() - position_ < count) {
        log(3, "read failed. pos: %zu, toRead: %zu, size: %zu", static_cast<std::size_t>(position_),
            static_cast<std::size_t>(count), buffer_.size());
        throw intl_exception(failed_text("read"));
    }
    if (count > 0) {
        std::memcpy(out, buffer_.data() + position_, count);
    }
    position_ += count;
}

std::uint32_t memory_stream::read(std::string& text) {
    std::uint32_t count = 0;
    read_some(text.data(), static_cast<std::uint32_t>(text.size()), count);
    return count;
}

std::uint32_t memory_stream::read(byte_vector& data) {
    std::uint32_t count = 0;
    read_some(data.data(), static_cast<std::uint32_t>(data.size()), count);
    return count;
}

}  // namespace orvel
