#include "platform/file_stream.h"

#include <cerrno>

#include "base/failures.h"
#include "base/log_hub.h"
#include "platform/file_ops.h"

namespace orvel {

namespace {

// The widest offset one runtime seek takes on every platform we build for.
constexpr std::uint32_t widest_step = 0x7FFFFFFF;

}  // namespace

file_stream::file_stream(const std::string& path, std::uint32_t flags) : flags_(flags) {
    if ((flags & create_new) != 0) {
        file_.create(path, true);
    } else {
        file_.open(path, true, true);
    }
    if (!is_valid()) {
        throw intl_exception(std::string("create") + " failed. Stream is not valid.");
    }
}

file_stream::file_stream(const platform::volume_root& volume, const std::string& relative,
                         std::uint32_t flags)
    : flags_(flags & ~std::uint32_t{delete_on_close}) {
    if ((flags & create_new) != 0) {
        file_.create(volume, relative, true);
    } else {
        file_.open(volume, relative, true, true);
    }
}

file_stream::~file_stream() {
    const std::string path = file_.path();
    try {
        file_.close();
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
    }
    if ((flags_ & delete_on_close) != 0) {
        platform::remove(path);
    }
}

bool file_stream::is_valid() {
    return file_.is_open();
}

std::uint32_t file_stream::size() {
    return static_cast<std::uint32_t>(file_.size());
}

void file_stream::clear() {
    rewind();
    tell();
    file_.truncate_here();
}

void file_stream::rewind() {
    file_.seek(0, SEEK_SET);
    last_ = direction::none;
}

void file_stream::skip(std::uint32_t count) {
    seek_in_steps(count, SEEK_CUR);
}

void file_stream::seek(std::uint32_t position) {
    seek_in_steps(position, SEEK_SET);
}

void file_stream::seek_in_steps(std::uint32_t distance, int origin) {
    if (distance > widest_step) {
        file_.seek(widest_step, origin);
        file_.seek(distance - widest_step, SEEK_CUR);
    } else {
        file_.seek(distance, origin);
    }
    last_ = direction::none;
}

std::uint32_t file_stream::tell() {
    return static_cast<std::uint32_t>(file_.tell());
}

std::FILE* file_stream::handle_for(direction next, const char* word) {
    if (!file_.is_open()) {
        errno = EBADF;
        file_.check(true, word);
    }
    // Standard I/O needs a positioning call between a write and a read on an update stream.
    if (last_ != direction::none && last_ != next) {
        file_.seek(0, SEEK_CUR);
    }
    last_ = next;
    return file_.handle();
}

void file_stream::write(const void* bytes, std::uint32_t count) {
    std::FILE* handle = handle_for(direction::writing, "write");
    file_.check(std::fwrite(bytes, 1, count, handle) != count, "write");
}

void file_stream::write(const byte_vector& data, std::uint32_t count) {
    if (data.size() < count) {
        log(3, "write failed. toWrite: %zu, size: %zu", static_cast<std::size_t>(count),
            data.size());
        throw intl_exception(failed_text("write"));
    }
    write(data.data(), count);
}

void file_stream::write(const byte_vector& data) {
    write(data.data(), static_cast<std::uint32_t>(data.size()));
}

void file_stream::read_some(void* out, std::uint32_t max, std::uint32_t& count) {
    std::FILE* handle = handle_for(direction::reading, "read");
    count = static_cast<std::uint32_t>(std::fread(out, 1, max, handle));
    // Nothing read is a failure, also when nothing was asked for: a caller that sized its
    // buffer to an empty file learns it here.
    file_.check(count == 0, "read");
}

void file_stream::read(void* out, std::uint32_t count) {
    std::FILE* handle = handle_for(direction::reading, "read");
    file_.check(std::fread(out, 1, count, handle) != count, "read");
}

std::uint32_t file_stream::read(std::string& text) {
    std::uint32_t count = 0;
    read_some(text.data(), static_cast<std::uint32_t>(text.size()), count);
    return count;
}

std::uint32_t file_stream::read(byte_vector& data) {
    std::uint32_t count = 0;
    read_some(data.data(), static_cast<std::uint32_t>(data.size()), count);
    return count;
}

}  // namespace orvel
