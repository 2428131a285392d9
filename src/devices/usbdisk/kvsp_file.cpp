#include "devices/usbdisk/kvsp_file.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace orvel {

namespace {

using kvsp_bytes = std::array<std::uint8_t, kvsp_record_size>;

constexpr std::size_t holes = 18;
constexpr std::size_t course_id_at = 4;
constexpr std::size_t date_at = 6;
constexpr std::size_t teebox_at = 14;
constexpr std::size_t round_id_at = 16;
constexpr std::size_t holes_at = 20;
constexpr std::size_t rating_at = 56;
constexpr std::size_t slope_at = 60;
constexpr std::size_t name_at = 61;

void put(kvsp_bytes& bytes, std::size_t at, std::uint32_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t get(const kvsp_bytes& bytes, std::size_t at, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    }
    return value;
}

}  // namespace

void write_kvsp_record(data_stream& stream, const user_score_record& record) {
    kvsp_bytes bytes{};
    std::memcpy(bytes.data(), "KVSP", 4);
    put(bytes, course_id_at, record.course_id, 2);
    const round_time& date = record.round_date;
    put(bytes, date_at, date.year, 2);
    bytes[date_at + 2] = static_cast<std::uint8_t>(date.month);
    bytes[date_at + 3] = static_cast<std::uint8_t>(date.day);
    bytes[date_at + 4] = static_cast<std::uint8_t>(date.hour);
    bytes[date_at + 5] = static_cast<std::uint8_t>(date.minute);
    bytes[date_at + 6] = static_cast<std::uint8_t>(date.second);
    bytes[teebox_at] = record.teebox;
    put(bytes, round_id_at, static_cast<std::uint32_t>(record.round_id), 4);
    for (std::size_t hole = 0; hole < std::min(holes, record.score.size()); ++hole) {
        bytes[holes_at + 2 * hole] = record.score[hole].score;
        bytes[holes_at + 2 * hole + 1] = record.score[hole].putts;
    }
    std::uint32_t rating = 0;
    static_assert(sizeof rating == sizeof record.course_rating, "IEEE 754 single");
    std::memcpy(&rating, &record.course_rating, sizeof rating);
    put(bytes, rating_at, rating, 4);
    bytes[slope_at] = record.slope_rating;
    std::memcpy(bytes.data() + name_at, record.course_name.data(),
                std::min(record.course_name.size(), kvsp_name_size));
    stream.write(bytes.data(), kvsp_record_size);
}

user_score_record read_kvsp_record(data_stream& stream) {
    kvsp_bytes bytes{};
    stream.read(bytes.data(), kvsp_record_size);
    user_score_record record;
    record.course_id = static_cast<std::uint16_t>(get(bytes, course_id_at, 2));
    round_time& date = record.round_date;
    date.year = static_cast<std::uint16_t>(get(bytes, date_at, 2));
    date.month = bytes[date_at + 2];
    date.day = bytes[date_at + 3];
    date.hour = bytes[date_at + 4];
    date.minute = bytes[date_at + 5];
    date.second = bytes[date_at + 6];
    record.teebox = bytes[teebox_at];
    record.round_id = static_cast<std::int32_t>(get(bytes, round_id_at, 4));
    record.score.resize(holes);
    for (std::size_t hole = 0; hole < holes; ++hole) {
        record.score[hole] = {bytes[holes_at + 2 * hole], bytes[holes_at + 2 * hole + 1]};
    }
    const std::uint32_t rating = get(bytes, rating_at, 4);
    std::memcpy(&record.course_rating, &rating, sizeof rating);
    record.slope_rating = bytes[slope_at];
    const auto* name = bytes.data() + name_at;
    record.course_name.assign(name, std::find(name, name + kvsp_name_size, std::uint8_t(0)));
    return record;
}

}  // namespace orvel
