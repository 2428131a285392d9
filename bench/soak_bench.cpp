// Long use of the running agent: 1,000 pages connect one after the other and send ten
// commands each, 10,000 in all, against a simulated ZelPlus volume and the test cloud on
// loopback. Prints the agent's resident memory and open descriptors along the way and
// whether they stayed within a tenth of the warmed-up figures.
#include <cstdio>
#include <cstdlib>

#include "support/agent_soak.h"

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    orvel::test::soak_plan plan;
    plan.sessions = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 1000;
    // At sixty pages a second the heap takes a hundred pages or so to settle.
    plan.warm_up_sessions = plan.sessions / 5;
    // Commands are answered as they come; the whole takes well under a minute.
    plan.time_limit = 15min;
    std::printf("%u pages of %zu commands each\n", plan.sessions,
                orvel::test::soak_commands_per_session);
    const orvel::test::soak_result result =
        orvel::test::run_soak(plan, [](const orvel::test::soak_sample& sample) {
            std::printf("%-6s after %4u pages, %5zu commands: VmRSS %6llu kB, %3zu open files\n",
                        sample.when, sample.sessions, sample.commands,
                        static_cast<unsigned long long>(sample.figures.resident_kb),
                        sample.figures.open_files);
            std::fflush(stdout);
        });
    std::printf("%u pages, %zu commands in %.1f s\n", result.sessions, result.commands,
                result.took.count() / 1000.0);
    if (!result.failure.empty()) {
        std::printf("failed: %s\n", result.failure.c_str());
        return 1;
    }
    std::printf("memory and descriptors %s within 10 %% of the warmed-up figures\n",
                result.flat() ? "stayed" : "did NOT stay");
    return 0;
}
