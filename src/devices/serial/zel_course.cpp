#include "devices/serial/zel_course.h"

#include <algorithm>

#include "base/log_hub.h"

namespace orvel {

bool ZelCourse::parse(const Json::Value& root) {
    if (!course::parse(root)) {
        return false;
    }
    Json::Value data;
    if (!parse_data(data)) {
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
    for (std::size_t i = 0; i < max_holes; ++i) {
        holes[i].clear();
        const Json::ArrayIndex entry = static_cast<Json::ArrayIndex>(i);
        if (entry < listed.size() &&
            !read_points(i, listed[entry], "hole data must be not empty array\r\n")) {
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

}  // namespace orvel
