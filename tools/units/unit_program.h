// What every simulated serial unit program shares: its command line, the link through
// which the agent reaches it, the line it prints for ORVELSYNC_SERIAL_PORTS, and running
// until SIGINT or SIGTERM.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orvel::units {

// A course the unit holds, as the console lists it.
struct held_course {
    std::string where;  // the part of the unit: "flash", "slot", "last course"
    unsigned slot = 0;
    std::string course;
};

struct unit_program {
    // The unit's name in the development cloud's catalogue ("HX62", "JT", "Zel", ...),
    // which also gives the friendly name of its bridge.
    std::string unit;
    // The pseudo-terminal the unit answers on.
    std::string port_path;
    // Called every 100 ms on the program's thread with the units folder ("" without
    // one), for units that keep a copy of their memory there for the console.
    std::function<void(const std::string& folder)> tick;
    // Units that know their courses by name: what they hold now. With a folder, it is
    // kept in "<DIR>/<unit>.holds" for the console while the program runs.
    std::function<std::vector<held_course>()> holds;
};

// "<program> [--folder DIR]". With a folder the agent reaches the unit through the link
// "<DIR>/<unit>.port", which the development cloud moves aside to unplug it; without one,
// through the pseudo-terminal itself. A unit whose bridge another plugged unit in the
// folder has starts unplugged. Prints the port entry, runs until SIGINT or SIGTERM, removes
// the link again. Answers the exit status.
int run_unit_program(int argc, char** argv, const unit_program& program);

}  // namespace orvel::units
