// A growable byte buffer as a stream: JSON bodies and data built before it is sent.
#pragma once

#include "platform/data_stream.h"

namespace orvel {

class memory_stream : public data_stream {
public:
    explicit memory_stream(std::uint32_t reserved = 0x8000);

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

    const byte_vector& buffer() const { return buffer_; }
    // The whole content as text, whatever the position.
    std::string text() const { return std::string(buffer_.begin(), buffer_.end()); }

private:
    byte_vector buffer_;
    std::uint32_t position_ = 0;
};

}  // namespace orvel
