// The byte stream every transfer and device file goes through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvel {

using byte_vector = std::vector<std::uint8_t>;

// Failures are thrown as intl_exception. Positions, sizes and counts are 32-bit.
class data_stream {
public:
    virtual ~data_stream() = default;

    virtual bool is_valid() = 0;
    virtual std::uint32_t size() = 0;
    // Rewinds, then empties the stream.
    virtual void clear() = 0;
    virtual void rewind() = 0;
    virtual void skip(std::uint32_t count) = 0;
    virtual void seek(std::uint32_t position) = 0;
    virtual std::uint32_t tell() = 0;
    virtual void write(const void* bytes, std::uint32_t count) = 0;
    // The first count bytes of the vector.
    virtual void write(const byte_vector& data, std::uint32_t count) = 0;
    virtual void write(const byte_vector& data) = 0;
    // Up to max bytes; count tells how many came.
    virtual void read_some(void* out, std::uint32_t max, std::uint32_t& count) = 0;
    // Exactly count bytes.
    virtual void read(void* out, std::uint32_t count) = 0;
    // These two fill the container's current length and never resize it.
    virtual std::uint32_t read(std::string& text) = 0;
    virtual std::uint32_t read(byte_vector& data) = 0;
};

}  // namespace orvel
