// The course data of Zel and Tavlin units: JSON text with a hole count and, per hole, the
// point texts the unit takes as they are.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

#include "platform/data_stream.h"

namespace orvel {

// The course data's root object; false after logging why there is none.
bool parse_course_object(const byte_vector& glf, Json::Value& root);
// A JSON integer (of either sign).
bool is_json_integer(const Json::Value& value);
// Appends the hole's point texts; false after logging `not_array` (the hole is no non-empty
// array) or that a point is no string.
bool read_points(const Json::Value& hole, const char* not_array, std::vector<std::string>& points);

}  // namespace orvel
