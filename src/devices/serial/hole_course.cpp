#include "devices/serial/hole_course.h"

#include "base/log_hub.h"
#include "cloud/json_text.h"

namespace orvel {

void hole_course::reset() {
    course::reset();
    hole_count = 0;
    for (auto& points : holes) {
        points.clear();
    }
}

bool hole_course::parse_data(Json::Value& data) const {
    std::string errors;
    if (!parse_json(std::string(glf.begin(), glf.end()), data, errors)) {
        return refuse("glf parsing failed\r\n");
    }
    if (!data.isObject()) {
        return refuse("glf must contain an object\r\n");
    }
    return true;
}

bool hole_course::is_json_integer(const Json::Value& value) {
    return value.type() == Json::intValue || value.type() == Json::uintValue;
}

bool hole_course::read_points(std::size_t i, const Json::Value& entry, const char* not_array) {
    holes[i].clear();
    if (!entry.isArray() || entry.empty()) {
        return refuse(not_array);
    }
    for (const Json::Value& point : entry) {
        if (!point.isString()) {
            return refuse("point data must be a string\r\n");
        }
        holes[i].push_back(point.asString());
    }
    return true;
}

}  // namespace orvel
