// The unit's score file "SP/KVSPnn.SP": one round in 151 little-endian bytes.
#pragma once

#include <cstdint>

#include "devices/usbdisk/user_scores.h"
#include "platform/data_stream.h"

namespace orvel {

inline constexpr std::uint32_t kvsp_record_size = 151;
// The course name field; a longer name is cut, one that fills it has no terminator.
inline constexpr std::size_t kvsp_name_size = 90;

// At the stream's position. Holes beyond 18 are left out, missing ones written as zero.
void write_kvsp_record(data_stream& stream, const user_score_record& record);
// From the stream's position; the magic is not checked.
user_score_record read_kvsp_record(data_stream& stream);

}  // namespace orvel
