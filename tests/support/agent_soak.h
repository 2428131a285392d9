// Long use of the built agent as a member's page makes it: page after page connects to the
// agent, which has a simulated ZelPlus volume and the test cloud, sends a round of commands
// and goes. The agent's memory and descriptors are sampled along the way.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "sim/test_http_server.h"
#include "support/agent_process.h"
#include "support/process_figures.h"
#include "support/temp_folder.h"

namespace orvel::test {

// The agent's surroundings in the soak: a simulated ZelPlus volume and the test cloud, which
// answers a course request for any number with a course of that number, and for 999 with
// text that is no JSON.
class soak_site {
public:
    soak_site();
    // Options for an agent that sees the volume.
    agent_options agent() const;
    // A "SearchDevice" for the volume's unit and the cloud, with the cloud's member.
    std::string search_command() const;

private:
    test_http_server cloud_;
    temp_folder volume_{"soak-unit"};
};

std::string update_command(unsigned course);

struct soak_plan {
    unsigned sessions = 20;  // page connections, one after the other
    unsigned warm_up_sessions = 5;
    // Sessions not yet begun when it runs out are left out.
    std::chrono::seconds time_limit{120};
};

struct soak_sample {
    const char* when;  // "start", "warmed", "middle", "end"
    unsigned sessions;
    std::size_t commands;
    process_figures figures;
};

struct soak_result {
    std::vector<soak_sample> samples;
    unsigned sessions = 0;
    std::size_t commands = 0;
    std::chrono::milliseconds took{0};
    // The first command that did not get its answer; "" when all did.
    std::string failure;

    // Whether memory and descriptors stayed within a tenth of the warmed-up sample.
    bool flat() const;
};

// Each session sends this many commands.
inline constexpr std::size_t soak_commands_per_session = 10;

soak_result run_soak(const soak_plan& plan,
                     const std::function<void(const soak_sample&)>& on_sample = {});

}  // namespace orvel::test
