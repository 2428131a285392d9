// The Zel course record: the course name, its hole count and the point texts of each hole.
#pragma once

#include "cloud/course_response.h"
#include "devices/serial/hole_course.h"

namespace orvel {

class ZelCourse : public hole_course {
public:
    bool parse(const Json::Value& root) override;
};

class ZelCourseResponse : public course_response<ZelCourse> {};

}  // namespace orvel
