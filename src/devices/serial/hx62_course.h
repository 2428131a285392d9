// The course record of the HX62 family: the course data, the course count the unit must hold,
// and optionally a storage directory to put in place of the unit's.
#pragma once

#include <cstdint>

#include "cloud/course.h"
#include "cloud/course_response.h"

namespace orvel {

class HX62Course : public course {
public:
    bool parse(const Json::Value& root) override;
    void reset() override;

    byte_vector sector51;  // empty when absent
    std::int32_t totalCourses = 0;
};

class HX62SyncResponse : public course_response<HX62Course> {};

}  // namespace orvel
