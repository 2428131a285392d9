#include "devices/serial/hx62_course.h"

#include "cloud/base64.h"

namespace orvel {

bool HX62Course::parse(const Json::Value& root) {
    if (!course::parse(root)) {
        return false;
    }
    if (root.isMember("sector51")) {
        const Json::Value& block = root["sector51"];
        if (!block.isString()) {
            return refuse("Wrong sector51 type\r\n");
        }
        sector51 = decode_base64(block.asString());
    }
    if (!root.isMember("totalCourses")) {
        return refuse("totalCourses must be present\r\n");
    }
    const Json::Value& total = root["totalCourses"];
    const Json::ValueType type = total.type();
    if (type != Json::intValue && type != Json::uintValue && type != Json::booleanValue) {
        return refuse("totalCourses must be integral\r\n");
    }
    // A count beyond the 32-bit range throws the library's own error, like the base fields.
    totalCourses = total.asInt();
    if (totalCourses <= 0) {
        return refuse("totalCourses must be positive\r\n");
    }
    return true;
}

void HX62Course::reset() {
    course::reset();
    sector51.clear();
    totalCourses = 0;
}

}  // namespace orvel
