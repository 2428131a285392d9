#include "devices/serial/tavlin_course.h"

#include <algorithm>

namespace orvel {

bool TavlinCourse::parse(const Json::Value& root) {
    if (!course::parse(root)) {
        return false;
    }
    Json::Value data;
    if (!parse_data(data)) {
        return false;
    }
    if (!data.isMember("holeCount") || !data.isMember("holes") || !data.isMember("tees")) {
        return refuse("holeCount, holes, and tees must be present\r\n");
    }
    if (!is_json_integer(data["holeCount"])) {
        return refuse("holeCount must be integral\r\n");
    }
    const Json::Value& listed = data["holes"];
    const Json::Value& listed_tees = data["tees"];
    if (!listed.isArray() || listed.empty() || !listed_tees.isArray() || listed_tees.empty()) {
        return refuse("holes and tees must be not empty arrays\r\n");
    }
    const Json::LargestInt count = data["holeCount"].asLargestInt();
    if (count != 9 && count != 18) {
        return refuse("holeCount must be 9 or 18\r\n");
    }
    if (listed.size() != count || listed_tees.size() != count) {
        return refuse("holes and tees must have size equal to holeCount\r\n");
    }
    hole_count = static_cast<std::int32_t>(count);
    for (Json::ArrayIndex i = 0; i < listed.size(); ++i) {
        if (!read_points(i, listed[i], "value must be not empty array\r\n")) {
            return false;
        }
        if (!listed_tees[i].isString()) {
            return false;
        }
        tees[i] = listed_tees[i].asString();
    }
    course_name.resize(std::min<std::size_t>(course_name.size(), 15));
    return true;
}

void TavlinCourse::reset() {
    hole_course::reset();
    tees.fill(std::string());
}

}  // namespace orvel
