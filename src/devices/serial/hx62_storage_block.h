// The storage directory an HX62 unit keeps at the start of flash sector 51: where its course
// database lies and how large each course record is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/data_stream.h"

namespace orvel {

namespace hx62 {
inline constexpr std::uint32_t storage_sector = 51;
}

// A = the byte sum modulo 256, B = the sum of the successive values of A modulo 256; stored
// as A then B.
struct block_sum {
    std::uint8_t a = 0;
    std::uint8_t b = 0;
};
block_sum block_checksum(const std::uint8_t* bytes, std::size_t count);

// One entry of the directory, each field widened to 32 bits.
struct storage_record {
    std::uint32_t uid = 0;
    std::uint32_t addr = 0;
    std::uint32_t size = 0;
    std::uint32_t fixed_record_size = 0;
    std::uint32_t fixed_records_num = 0;
};

// What can be written into a buffer.
class savable {
public:
    // The bytes written at position, 0 (writing nothing) when they do not fit in space.
    virtual std::size_t save(std::uint8_t* buffer, std::size_t position,
                             std::size_t space) const = 0;

protected:
    ~savable() = default;
};

// "GSTG", the length L = 16 * count + 4 and the count (1 to 255), the records, and the
// checksum of the L + 4 bytes before it; all little-endian.
class HX62StorageBlock : public savable {
public:
    // True when the bytes hold a sound block; the records are then replaced.
    bool load(const std::uint8_t* bytes, std::size_t size);
    bool load(const byte_vector& bytes) { return load(bytes.data(), bytes.size()); }
    // 16 * count + 10 bytes; nothing when there are no records.
    std::size_t save(std::uint8_t* buffer, std::size_t position, std::size_t space) const override;

    std::vector<storage_record> records;
};

// The store packet of a whole sector holding the block, then 0xFF. Left empty when the
// block writes nothing.
void block_sector_packet(std::uint32_t address, const HX62StorageBlock& block, byte_vector& out);

}  // namespace orvel
