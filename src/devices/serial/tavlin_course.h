// The Tavlin course record: the course name, its hole count, and per hole its point texts
// and its tee text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cloud/course.h"
#include "cloud/course_response.h"

namespace orvel {

class TavlinCourse : public course {
public:
    static constexpr std::size_t max_holes = 18;

    bool parse(const Json::Value& root) override;
    void reset() override;

    std::int32_t hole_count = 0;
    std::array<std::vector<std::string>, max_holes> holes;
    std::array<std::string, max_holes> tees;
};

class TavlinCourseResponse : public course_response<TavlinCourse> {};

}  // namespace orvel
