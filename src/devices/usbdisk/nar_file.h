// The unit's article file "NAR/<CATEGORY><n>.NAR": the date, the rating and the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devices/usbdisk/articles.h"
#include "platform/data_stream.h"

namespace orvel {

// The file name digit runs from '0' to '9': a unit shows at most ten articles a category.
inline constexpr std::size_t max_articles_per_category = 10;

// Seconds from 1970-01-01 to the day's UTC midnight; 0 when the day is not in the calendar.
std::int64_t article_seconds(const article_date& date);
// False, after logging the name, when a category's name is no plain part of a file name:
// a separator or ".." would lead out of "NAR/".
bool category_names_are_safe(const std::vector<article_category>& categories);
// The name below the root, upper case: "NAR/" + category + digit + ".NAR".
std::string nar_file_name(const std::string& category, std::size_t index);
// 8 bytes of seconds (little-endian), the rating, then title, subtitle, content and author,
// each ended by a line feed, and one more line feed.
void write_nar_record(data_stream& stream, const article_record& article);

}  // namespace orvel
