// orvelsync-unit-zel: a simulated Zel unit, its ten course slots empty at start.
#include "sim/zel_unit.h"
#include "units/unit_program.h"

int main(int argc, char** argv) {
    orvel::test::zel_unit unit;
    orvel::units::unit_program program;
    program.unit = "Zel";
    program.port_path = unit.line().path();
    program.holds = [&unit] {
        std::vector<orvel::units::held_course> held;
        for (std::size_t k = 0; k < orvel::test::zel_unit::slot_count; ++k) {
            const std::string name = unit.slot(k).name;
            if (!name.empty()) {
                held.push_back({"slot", static_cast<unsigned>(k + 1), name});
            }
        }
        return held;
    };
    return orvel::units::run_unit_program(argc, argv, program);
}
