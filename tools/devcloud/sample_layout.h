// Sizes that the sample courses, the sample files and the simulated units agree on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvel::devcloud {

// Courses of the volume models: one slot of the course file each.
inline constexpr std::size_t glf_course_size = 1808;
// Slots of a sample "EMBEDD01.GLF".
inline constexpr std::size_t glf_file_slots = 16;
// Where a volume course keeps its name (the JTC model finds its course files by it).
inline constexpr std::size_t glf_name_offset = 10;
inline constexpr std::size_t glf_name_length = 90;

// A package's course library: standard courses, index entries per index file.
inline constexpr std::uint16_t tar_course_count = 12;
inline constexpr std::uint16_t tar_courses_per_file = 10;
inline constexpr std::size_t tar_entry_size = 32;

// The storage block of a simulated HX62 unit: one record type, its courses from sector 77.
inline constexpr std::uint32_t hx62_record_size = 1500;
inline constexpr std::uint32_t hx62_record_count = 40;
inline constexpr std::uint32_t hx62_first_sector = 77;
inline constexpr std::uint32_t hx62_sector_size = 4096;

}  // namespace orvel::devcloud
