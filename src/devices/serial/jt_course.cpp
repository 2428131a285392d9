#include "devices/serial/jt_course.h"

#include <algorithm>

#include "base/log_hub.h"

namespace orvel {

bool JTCourse::parse(const Json::Value& root) {
    if (!course::parse(root)) {
        return false;
    }
    if (glf.size() < jt::course_size) {
        log(3, "wrong glf size (%zu)\r\n", glf.size());
        return false;
    }
    course_name.resize(std::min<std::size_t>(course_name.size(), 47));
    return true;
}

std::string JTCourse::leading_text() const {
    const auto field_end = glf.begin() + std::min(glf.size(), jt::image_count_offset);
    return std::string(glf.begin(), std::find(glf.begin(), field_end, 0));
}

unsigned JTCourse::image_count() const {
    if (glf.size() < jt::image_count_offset + 2) {
        return 0;
    }
    return (glf[jt::image_count_offset] << 8) | glf[jt::image_count_offset + 1];
}

}  // namespace orvel
