#include "devices/serial/course_json.h"

#include "app/log_hub.h"
#include "cloud/json_text.h"

namespace orvel {

bool parse_course_object(const byte_vector& glf, Json::Value& root) {
    std::string errors;
    if (!parse_json(std::string(glf.begin(), glf.end()), root, errors)) {
        log(3, "glf parsing failed\r\n");
        return false;
    }
    if (!root.isObject()) {
        log(3, "glf must contain an object\r\n");
        return false;
    }
    return true;
}

bool is_json_integer(const Json::Value& value) {
    return value.type() == Json::intValue || value.type() == Json::uintValue;
}

bool read_points(const Json::Value& hole, const char* not_array, std::vector<std::string>& points) {
    if (!hole.isArray() || hole.empty()) {
        log(3, "%s", not_array);
        return false;
    }
    for (const Json::Value& point : hole) {
        if (!point.isString()) {
            log(3, "point data must be a string\r\n");
            return false;
        }
        points.push_back(point.asString());
    }
    return true;
}

}  // namespace orvel
