// A file on disk as a stream: large downloads, uploads and device files.
#pragma once

#include "platform/data_stream.h"
#include "platform/stdio_file.h"

namespace orvel {

class file_stream : public data_stream {
public:
    enum flag : std::uint32_t {
        create_new = 1,       // create or truncate
        delete_on_close = 2,  // a scratch file that vanishes with its stream
    };

    file_stream(const std::string& path, std::uint32_t flags);
    // A file below a unit's root (see stdio_file's open and create there); delete_on_close
    // is not for these.
    file_stream(const platform::volume_root& volume, const std::string& relative,
                std::uint32_t flags);
    ~file_stream() override;

    bool is_valid() override;
    std::uint32_t size() override;
    void clear() override;
    void rewind() override;
    void skip(std::uint32_t count) override;
    void seek(std::uint32_t position) override;
    std::uint32_t tell() override;
    void write(const void* bytes, std::uint32_t count) override;
    void write(const byte_vector& data, std::uint32_t count) override;
    void write(const byte_vector& data) override;
    void read_some(void* out, std::uint32_t max, std::uint32_t& count) override;
    void read(void* out, std::uint32_t count) override;
    std::uint32_t read(std::string& text) override;
    std::uint32_t read(byte_vector& data) override;

    stdio_file& file() { return file_; }

private:
    enum class direction { none, reading, writing };
    // The open handle, ready for a read or write after the other kind.
    std::FILE* handle_for(direction next, const char* word);
    void seek_in_steps(std::uint32_t distance, int origin);

    stdio_file file_;
    std::uint32_t flags_;
    direction last_ = direction::none;
};

}  // namespace orvel
