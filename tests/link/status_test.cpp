#include "link/status.h"

#include <gtest/gtest.h>

#include "support/capture_logger.h"

namespace orvel {
namespace {

TEST(StatusText, SuffixFollowsStatusThenCodeThenEject) {
    EXPECT_EQ(status_text({0, 0, 0}), R"({"Status":0, "Version":"2.5.8.0"})");
    EXPECT_EQ(status_text({0, 1200, 1}), R"({"Status":0, "Version":"2.5.8.0"})");
    EXPECT_EQ(status_text({5, 1200, 0}), R"({"Status":5, "Code":1200})");
    EXPECT_EQ(status_text({5, 0, 0}), R"({"Status":5})");
    EXPECT_EQ(status_text({4, 0, 0}), R"({"Status":4, "EjectNeeded":0})");
    EXPECT_EQ(status_text({4, 0, 1}), R"({"Status":4, "EjectNeeded":1})");
    EXPECT_EQ(status_text({4, 600, 1}), R"({"Status":4, "Code":600})");
    EXPECT_EQ(status_text({2, 0, 1}), R"({"Status":2})");
    EXPECT_EQ(status_text({5, 4294967295u, 0}), R"({"Status":5, "Code":4294967295})");
}

TEST(SendStatus, StatusArrivesAsAnObjectAndACodeRepeatsTheSystemLine) {
    test::capture_logger logger;
    send_status({1, 0, 0});
    ASSERT_EQ(logger.lines().size(), 1u);
    EXPECT_NE(logger.lines()[0].find(R"("Data":{"Status":1}})"), std::string::npos);

    logger.clear();
    send_status({5, 900, 0});
    const auto messages = logger.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], R"({"Status":5, "Code":900})");
    EXPECT_EQ(messages[1].rfind("OS: ", 0), 0u);
}

}  // namespace
}  // namespace orvel
