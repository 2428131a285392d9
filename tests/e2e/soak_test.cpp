// A short soak of the built agent: pages come and go and send their commands; what the agent
// holds must not grow with them.
#include <gtest/gtest.h>

#include <string>

#include "support/agent_soak.h"

namespace orvel::test {
namespace {

TEST(Soak, MemoryAndDescriptorsStayFlatOverPagesAndCommands) {
    soak_plan plan;
    plan.sessions = 20;  // 200 commands
    plan.warm_up_sessions = 5;
    const soak_result result = run_soak(plan);
    ASSERT_EQ(result.failure, "");
    EXPECT_EQ(result.commands, plan.sessions * soak_commands_per_session);
    ASSERT_EQ(result.samples.size(), 4u);
    std::string figures;
    for (const soak_sample& sample : result.samples) {
        EXPECT_GT(sample.figures.resident_kb, 0u) << sample.when;
        EXPECT_GT(sample.figures.open_files, 0u) << sample.when;
        figures += std::string(sample.when) + ": " + std::to_string(sample.figures.resident_kb) +
                   " kB, " + std::to_string(sample.figures.open_files) + " files\n";
    }
    EXPECT_TRUE(result.flat()) << figures;
}

}  // namespace
}  // namespace orvel::test
