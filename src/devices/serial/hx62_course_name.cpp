#include "devices/serial/hx62_course_name.h"

#include <utility>

#include "base/log_hub.h"

namespace orvel {

namespace {

constexpr std::size_t id_offset = 8;
constexpr std::size_t name_offset = 10;
constexpr std::size_t name_length = 50;

}  // namespace

std::optional<std::string> descramble_course(byte_vector& record, std::uint32_t expected_id,
                                             const model_key& data_key, const model_key& name_key) {
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] ^= data_key[i % model_key_length];
    }
    if (record.size() < name_offset) {
        return std::nullopt;
    }
    const std::uint32_t id = record[id_offset] | (std::uint32_t{record[id_offset + 1]} << 8);
    if (id != expected_id) {
        log(3, "Incorrect id_course, %u insted of %u", id, expected_id);
        return std::nullopt;
    }
    const std::int64_t end = static_cast<std::int64_t>(record.size()) - 2 + id % 2;
    for (std::int64_t i = end - id % 400 - 90, j = end; i >= static_cast<std::int64_t>(name_offset);
         i -= 2, j -= 2) {
        std::swap(record[static_cast<std::size_t>(i)], record[static_cast<std::size_t>(j)]);
    }
    std::string name;
    for (std::size_t k = 0; k < name_length && name_offset + k < record.size(); ++k) {
        const char c = static_cast<char>(name_key[k % model_key_length] ^ record[name_offset + k]);
        if (c == '\0') {
            break;
        }
        name += c;
    }
    return name;
}

}  // namespace orvel
