// Test data that tells its pieces apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvel::test {

// Bytes that differ from seed to seed and along the run, so that data written in the wrong
// place, or cut short, shows.
inline std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((seed * 31 + i * 7) % 256);
    }
    return bytes;
}

// The value's low bytes, lowest first, as the units' files keep their numbers.
inline std::string little_endian(std::uint32_t value, std::size_t width) {
    std::string bytes(width, '\0');
    for (std::size_t i = 0; i < width; ++i) {
        bytes[i] = static_cast<char>(value >> (8 * i));
    }
    return bytes;
}

}  // namespace orvel::test
