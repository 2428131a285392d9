// The JT course record: a fixed-size byte image, the course pages followed by the hole
// image pages.
#pragma once

#include <cstddef>
#include <string>

#include "cloud/course.h"
#include "cloud/course_response.h"

namespace orvel {

namespace jt {

inline constexpr std::size_t page_data = 119;
// 39 pages of 119 bytes and a last one of 17.
inline constexpr std::size_t course_pages = 40;
inline constexpr std::size_t course_size = 4658;
// One hole image: 13 pages of 119 bytes and a last one of 88, after the course pages.
inline constexpr std::size_t image_pages = 14;
inline constexpr std::size_t image_size = 1635;
inline constexpr std::size_t image_offset = course_size;
// The count of hole images, big-endian, follows the leading text.
inline constexpr std::size_t image_count_offset = 48;

}  // namespace jt

class JTCourse : public course {
public:
    bool parse(const Json::Value& root) override;

    // The text at the start of the course image, up to its first zero byte and never into
    // the image count behind it.
    std::string leading_text() const;
    unsigned image_count() const;
};

class JTCourseResponse : public course_response<JTCourse> {};

}  // namespace orvel
