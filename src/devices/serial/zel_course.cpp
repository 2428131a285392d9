#include "devices/serial/zel_course.h"

#include <algorithm>

#include "app/log_hub.h"
#include "devices/serial/course_json.h"

namespace orvel {

bool ZelCourse::parse(const Json::Value& root) {
    if (!course::parse(root)) {
        return false;
    }
    Json::Value data;
    if (!parse_course_object(glf, data)) {
        return false;
    }
    if (!data.isMember("holeCount") || !data.isMember("holes")) {
        return refuse("holeCount and holes must be present\r\n");
    }
    if (!is_json_integer(data["holeCount"])) {
        return refuse("holeCount must be integral\r\n");
    }
    const Json::Value& listed = data["holes"];
    if (!listed.isArray() || listed.empty()) {
        return refuse("holes must be not empty array\r\n");
    }
    for (auto& points : holes) {
        points.clear();
    }
    const Json::ArrayIndex filled = std::min<Json::ArrayIndex>(listed.size(), max_holes);
    for (Json::ArrayIndex i = 0; i < filled; ++i) {
        if (!read_points(listed[i], "hole data must be not empty array\r\n", holes[i])) {
            return false;
        }
    }
    course_name.resize(std::min<std::size_t>(course_name.size(), 15));
    const Json::LargestInt count = data["holeCount"].asLargestInt();
    if (count != 9 && count != 18) {
        log(3, "wrong hole count (%zu)\r\n", static_cast<std::size_t>(count));
        return false;
    }
    hole_count = static_cast<std::int32_t>(count);
    return true;
}

void ZelCourse::reset() {
    course::reset();
    hole_count = 0;
    for (auto& points : holes) {
        points.clear();
    }
}

}  // namespace orvel
