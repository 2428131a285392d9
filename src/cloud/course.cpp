#include "cloud/course.h"

#include "base/log_hub.h"
#include "cloud/base64.h"

namespace orvel {

bool course::refuse(const char* reason) {
    log(3, "%s", reason);
    return false;
}

bool course::parse(const Json::Value& root) {
    if (!root.isMember("glfCourse")) {
        return refuse("glfCourse must be present");
    }
    if (!root.isMember("id_course")) {
        return refuse("id_course must be present");
    }
    if (!root.isMember("courseName")) {
        return refuse("courseName must be present");
    }
    const Json::Value& glf_course = root["glfCourse"];
    if ((!glf_course.isNull() && !glf_course.isObject()) || !glf_course.isMember("index") ||
        !glf_course.isMember("glf")) {
        return refuse("index or glf must be present");
    }

    // Values of the wrong kind here throw the library's own error, as they always have.
    index = glf_course["index"].asInt();
    glf = decode_base64(glf_course["glf"].asString());
    id_course = root["id_course"].asUInt();

    const Json::Value& name = root["courseName"];
    if (!name.isString()) {
        return refuse("courseName must be a string");
    }
    if (name.asString().empty()) {
        return refuse("courseName can't be empty");
    }
    course_name = name.asString();

    custom = false;
    if (root.isMember("bCustom")) {
        const Json::Value& flag = root["bCustom"];
        if (!flag.isInt()) {
            return refuse("Wrong bCustom type");
        }
        custom = flag.asInt() == 1;
    }
    return true;
}

void course::reset() {
    glf.clear();
    course_name.clear();
    id_course = 0xFFFFFFFF;
    index = -1;
    custom = false;
}

}  // namespace orvel
