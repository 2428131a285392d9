// The course record of the USB-disk models: the course data and an optional side file.
#pragma once

#include <string>

#include "cloud/course.h"
#include "cloud/course_response.h"

namespace orvel {

class USBDiskCourse : public course {
public:
    bool parse(const Json::Value& root) override;
    void reset() override;

    byte_vector glsData;  // written beside the course file as "<id_course>.GLS"
    std::string setupType;
};

class USBDiskCourseResponse : public course_response<USBDiskCourse> {};

}  // namespace orvel
