// orvelsync-unit-tavlin: a simulated Tavlin unit, its forty course slots empty at start.
#include "sim/tavlin_unit.h"
#include "units/unit_program.h"

int main(int argc, char** argv) {
    orvel::test::tavlin_unit unit;
    orvel::units::unit_program program;
    program.unit = "Tavlin";
    program.port_path = unit.line().path();
    program.holds = [&unit] {
        std::vector<orvel::units::held_course> held;
        for (std::size_t number = 1; number <= orvel::test::tavlin_unit::slot_count; ++number) {
            const std::string name = unit.slot(number).name;
            if (!name.empty()) {
                held.push_back({"slot", static_cast<unsigned>(number), name});
            }
        }
        return held;
    };
    return orvel::units::run_unit_program(argc, argv, program);
}
