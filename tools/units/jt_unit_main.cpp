// orvelsync-unit-jt: a simulated JT unit. It keeps the last course it took, which the
// console names by the text the course starts with.
#include <algorithm>

#include "devices/serial/jt_course.h"
#include "sim/jt_unit.h"
#include "units/unit_program.h"

int main(int argc, char** argv) {
    orvel::test::jt_unit unit;
    orvel::units::unit_program program;
    program.unit = "JT";
    program.port_path = unit.line().path();
    program.holds = [&unit] {
        std::vector<orvel::units::held_course> held;
        const orvel::byte_vector course = unit.course();
        if (!course.empty()) {
            // The leading text ends at a zero byte, and never runs into the image count.
            const auto end = std::find(
                course.begin(),
                course.begin() + std::min(course.size(), orvel::jt::image_count_offset), 0);
            held.push_back({"last course", 0, std::string(course.begin(), end)});
        }
        return held;
    };
    return orvel::units::run_unit_program(argc, argv, program);
}
