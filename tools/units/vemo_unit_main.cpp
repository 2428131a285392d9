// orvelsync-unit-vemo: a simulated Vemo unit. It keeps the last course whose transfer
// ended, under the name it was announced with.
#include "sim/vemo_unit.h"
#include "units/unit_program.h"

int main(int argc, char** argv) {
    orvel::test::vemo_unit unit;
    orvel::units::unit_program program;
    program.unit = "Vemo";
    program.port_path = unit.line().path();
    program.holds = [&unit] {
        std::vector<orvel::units::held_course> held;
        const std::vector<std::string> announced = unit.announced();
        if (unit.ended() && !announced.empty()) {
            held.push_back({"last course", 0, announced.back()});
        }
        return held;
    };
    return orvel::units::run_unit_program(argc, argv, program);
}
