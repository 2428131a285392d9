// The Zel course record: the course name, its hole count and the point texts of each hole.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cloud/course.h"
#include "cloud/course_response.h"

namespace orvel {

class ZelCourse : public course {
public:
    static constexpr std::size_t max_holes = 18;

    bool parse(const Json::Value& root) override;
    void reset() override;

    std::int32_t hole_count = 0;
    // Holes the course data lists fewer of than its count have no points.
    std::array<std::vector<std::string>, max_holes> holes;
};

class ZelCourseResponse : public course_response<ZelCourse> {};

}  // namespace orvel
