#include "link/page_ports.h"

#include <gtest/gtest.h>

#include "support/capture_logger.h"
#include "support/scoped_env.h"

namespace orvel {
namespace {

// A range read in part ("10001-10002x", "10001") would send an agent to ports nobody meant.
TEST(PagePorts, RangeIsReadWholeOrNotAtAll) {
    const auto range = parse_port_range("10011-10012");
    ASSERT_TRUE(range);
    EXPECT_EQ(range->first, 10011);
    EXPECT_EQ(range->last, 10012);
    EXPECT_TRUE(parse_port_range("7-7"));
    for (const char* bad : {"", "10001", "10004-10001", "0-10", "1-65536", "a-b", "10001-10002x",
                            " 10001-10002", "10001--10002", "+1-2", "-"}) {
        EXPECT_FALSE(parse_port_range(bad)) << bad;
    }
}

TEST(PagePorts, SettingMovesTheRangeAndAMalformedOneIsLoggedAndLeftAside) {
    test::capture_logger logged;
    {
        test::scoped_env setting("ORVELSYNC_PAGE_PORTS", "10011-10012");
        EXPECT_EQ(page_ports().first, 10011);
    }
    test::scoped_env setting("ORVELSYNC_PAGE_PORTS", "10011");
    const port_range standard = page_ports();
    EXPECT_EQ(standard.first, 10001);
    EXPECT_EQ(standard.last, 10004);
    EXPECT_TRUE(logged.contains(
        "ORVELSYNC_PAGE_PORTS is not a range such as 10001-10004: \"10011\"; using 10001-10004"))
        << testing::PrintToString(logged.messages());
}

}  // namespace
}  // namespace orvel
