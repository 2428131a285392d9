#include "devices/serial/hx62_storage_block.h"

#include <cstring>

#include "base/log_hub.h"
#include "devices/serial/hx62_packet.h"

namespace orvel {

namespace {

constexpr char signature[] = "GSTG";
constexpr std::size_t head_size = 8;
constexpr std::size_t record_size = 16;
constexpr std::size_t max_length = 4084;
constexpr std::size_t min_block_size = 20;

std::uint32_t read_le(const std::uint8_t* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

void write_le(std::uint8_t* bytes, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void log_wrong_signature(const std::uint8_t* bytes) {
    log(3, "Wrong signature at storage block");
    log(3, "Expected: %s", signature);
    log(3, "Present: %s (", std::string(reinterpret_cast<const char*>(bytes), 4).c_str());
    for (int i = 0; i < 4; ++i) {
        log(3, "%02X", bytes[i]);
    }
    log(3, ")");
}

}  // namespace

block_sum block_checksum(const std::uint8_t* bytes, std::size_t count) {
    block_sum sum;
    for (std::size_t i = 0; i < count; ++i) {
        sum.a = static_cast<std::uint8_t>(sum.a + bytes[i]);
        sum.b = static_cast<std::uint8_t>(sum.b + sum.a);
    }
    return sum;
}

bool HX62StorageBlock::load(const std::uint8_t* bytes, std::size_t size) {
    if (size < min_block_size) {
        return false;
    }
    if (std::memcmp(bytes, signature, 4) != 0) {
        log_wrong_signature(bytes);
        return false;
    }
    const std::size_t length = read_le(bytes + 4, 2);
    const std::size_t count = read_le(bytes + 6, 2);
    if (count < 1 || count > 255 || length < record_size * count + 4 || length > max_length ||
        size < length + 6) {
        return false;
    }
    const block_sum sum = block_checksum(bytes, length + 4);
    if (sum.a != bytes[length + 4] || sum.b != bytes[length + 5]) {
        return false;
    }
    std::vector<storage_record> loaded(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* at = bytes + head_size + record_size * i;
        loaded[i] = {read_le(at, 4), read_le(at + 4, 4), read_le(at + 8, 4), read_le(at + 12, 2),
                     read_le(at + 14, 2)};
    }
    records = std::move(loaded);
    return true;
}

std::size_t HX62StorageBlock::save(std::uint8_t* buffer, std::size_t position,
                                   std::size_t space) const {
    const std::size_t length = record_size * records.size() + 4;
    const std::size_t total = length + 6;
    if (records.empty() || space < total) {
        return 0;
    }
    std::uint8_t* out = buffer + position;
    std::memcpy(out, signature, 4);
    write_le(out + 4, static_cast<std::uint32_t>(length), 2);
    write_le(out + 6, static_cast<std::uint32_t>(records.size()), 2);
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::uint8_t* at = out + head_size + record_size * i;
        const storage_record& record = records[i];
        write_le(at, record.uid, 4);
        write_le(at + 4, record.addr, 4);
        write_le(at + 8, record.size, 4);
        write_le(at + 12, record.fixed_record_size, 2);
        write_le(at + 14, record.fixed_records_num, 2);
    }
    const block_sum sum = block_checksum(out, length + 4);
    out[length + 4] = sum.a;
    out[length + 5] = sum.b;
    return total;
}

void block_sector_packet(std::uint32_t address, const HX62StorageBlock& block, byte_vector& out) {
    out.clear();
    byte_vector image(hx62::sector_size, 0xFF);
    if (block.save(image.data(), 0, image.size()) == 0) {
        return;
    }
    build_packet(store_command(address, image.data(), image.size(), 0xFF), out);
}

}  // namespace orvel
