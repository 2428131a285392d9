// The course records of every model: the first byte picks the record, the rest is the
// service's answer. A taken record holds a name the unit can show and data no larger than
// the answer; the hole records hold a count of 9 or 18 and only strings as points.
#include <algorithm>
#include <cstdint>

#include "devices/serial/hx62_course.h"
#include "devices/serial/jt_course.h"
#include "devices/serial/tavlin_course.h"
#include "devices/serial/vemo_device.h"
#include "devices/serial/zel_course.h"
#include "devices/usbdisk/usbdisk_course.h"
#include "fuzz/fuzz_answer.h"

namespace {

template <typename Response, typename CheckRecord>
void parse(const std::uint8_t* data, std::size_t size, std::size_t longest_name,
           const CheckRecord& check_record) {
    Response answer;
    fuzz::parse_answer(answer, data, size, [&] {
        const auto& record = answer.record;
        FUZZ_CHECK(!record.course_name.empty() && record.course_name.size() <= longest_name);
        FUZZ_CHECK(record.glf.size() <= size);
        check_record(record);
    });
}

void check_holes(const orvel::hole_course& record, std::size_t size) {
    FUZZ_CHECK(record.hole_count == 9 || record.hole_count == 18);
    std::size_t points = 0;
    for (const auto& hole : record.holes) {
        points += hole.size();
    }
    FUZZ_CHECK(points <= size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t kind = data[0] % 6;
    ++data;
    --size;
    const std::size_t any = size;
    switch (kind) {
        case 0:
            parse<orvel::HX62SyncResponse>(data, size, any, [&](const orvel::HX62Course& record) {
                FUZZ_CHECK(record.totalCourses > 0);
                FUZZ_CHECK(record.sector51.size() <= size);
            });
            break;
        case 1:
            parse<orvel::JTCourseResponse>(data, size, 47, [](const orvel::JTCourse& record) {
                FUZZ_CHECK(record.glf.size() >= orvel::jt::course_size);
                FUZZ_CHECK(record.leading_text().size() <= orvel::jt::image_count_offset);
                FUZZ_CHECK(record.image_count() <= 0xFFFF);
            });
            break;
        case 2:
            parse<orvel::ZelCourseResponse>(
                data, size, 15, [&](const orvel::ZelCourse& record) { check_holes(record, size); });
            break;
        case 3:
            parse<orvel::VemoCourseResponse>(data, size, 16, [](const orvel::VemoCourse&) {});
            break;
        case 4:
            parse<orvel::TavlinCourseResponse>(data, size, 15,
                                               [&](const orvel::TavlinCourse& record) {
                                                   check_holes(record, size);
                                                   for (int i = 0; i < record.hole_count; ++i) {
                                                       FUZZ_CHECK(!record.holes[i].empty());
                                                   }
                                               });
            break;
        default:
            parse<orvel::USBDiskCourseResponse>(data, size, any,
                                                [&](const orvel::USBDiskCourse& record) {
                                                    FUZZ_CHECK(record.glsData.size() <= size);
                                                    FUZZ_CHECK(record.setupType.size() <= size);
                                                });
            break;
    }
    return 0;
}
