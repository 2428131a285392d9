// The Tavlin course record: the course name, its hole count, and per hole its point texts
// and its tee text.
#pragma once

#include <array>
#include <string>

#include "cloud/course_response.h"
#include "devices/serial/hole_course.h"

namespace orvel {

class TavlinCourse : public hole_course {
public:
    bool parse(const Json::Value& root) override;
    void reset() override;

    std::array<std::string, max_holes> tees;
};

class TavlinCourseResponse : public course_response<TavlinCourse> {};

}  // namespace orvel
