// What the course records of Zel and Tavlin units share: their course data is JSON text with
// a hole count and, per hole, the point texts the unit takes as they are.
#pragma once

#include <json/value.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cloud/course.h"

namespace orvel {

class hole_course : public course {
public:
    static constexpr std::size_t max_holes = 18;

    void reset() override;

    std::int32_t hole_count = 0;
    // Holes the course data lists fewer of than its count have no points.
    std::array<std::vector<std::string>, max_holes> holes;

protected:
    // The course data's root object; false after logging why there is none.
    bool parse_data(Json::Value& data) const;
    // A JSON integer (of either sign).
    static bool is_json_integer(const Json::Value& value);
    // Replaces the points of hole i with the texts of the entry; false after logging
    // `not_array` (the entry is no non-empty array) or that a point is no string.
    bool read_points(std::size_t i, const Json::Value& entry, const char* not_array);
};

}  // namespace orvel
