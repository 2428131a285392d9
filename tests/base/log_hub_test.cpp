#include "base/log_hub.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "support/capture_logger.h"

namespace orvel {
namespace {

TEST(LogEnvelope, EscapesEachSpecialByteAndKeepsTheRest) {
    EXPECT_EQ(log_data("a\bb\tc\nd\fe\rf\"g/h\\i"), "\"a\\bb\\tc\\nd\\fe\\rf\\\"g\\/h\\\\i\"");
    // Other control bytes and bytes above 127 pass unchanged.
    EXPECT_EQ(log_data(std::string("\x01\x7f\xc3\xa9", 4)), std::string("\"\x01\x7f\xc3\xa9\"", 6));
    EXPECT_EQ(log_data(""), "\"\"");
}

TEST(LogEnvelope, BracedMessagesAreEmbeddedUnchangedEvenWhenNotJson) {
    EXPECT_EQ(log_data("{\"Status\":1}"), "{\"Status\":1}");
    EXPECT_EQ(log_data("{not json / at all}"), "{not json / at all}");
    EXPECT_EQ(log_data("{}"), "{}");
    // Only one brace: a string.
    EXPECT_EQ(log_data("{open"), "\"{open\"");
    EXPECT_EQ(log_data("close}"), "\"close}\"");
    EXPECT_EQ(log_data("{"), "\"{\"");
}

TEST(LogEnvelope, LineHasTheFixedLayout) {
    EXPECT_EQ(log_line("2026-03-05 07:08:09", "a/b"),
              "{\"Time\":\"2026-03-05 07:08:09\", \"Data\":\"a\\/b\"}");
    EXPECT_TRUE(
        std::regex_match(local_time_text(), std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})")));
}

TEST(LogHub, FormatsOnceAndDeliversToEveryLogger) {
    test::capture_logger first;
    test::capture_logger second;
    log(3, "value %d of %s", 7, "x/y");
    ASSERT_EQ(first.lines().size(), 1u);
    EXPECT_EQ(first.lines(), second.lines());
    EXPECT_EQ(test::message_of_line(first.lines()[0]), "value 7 of x/y");
    EXPECT_TRUE(std::regex_match(
        first.lines()[0], std::regex(R"(\{"Time":"[0-9: -]{19}", "Data":"value 7 of x\\/y"\})")));
}

TEST(LogHub, AddingTwiceRegistersOnceAndRemovedLoggersHearNothing) {
    test::capture_logger logger;
    add_logger(&logger);  // already registered by its constructor
    log(3, "once");
    EXPECT_EQ(logger.lines().size(), 1u);
    remove_logger(&logger);
    log(3, "unheard");
    EXPECT_EQ(logger.lines().size(), 1u);
    add_logger(&logger);  // the destructor removes it again
}

TEST(LogHub, LinesFromManyThreadsArriveWholeAndInOneOrder) {
    test::capture_logger first;
    test::capture_logger second;
    constexpr int threads = 4;
    constexpr int per_thread = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < per_thread; ++i) {
                log(3, "thread %d line %d %s", t, i, std::string(200, char('a' + t)).c_str());
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    const auto lines = first.lines();
    ASSERT_EQ(lines.size(), std::size_t(threads * per_thread));
    EXPECT_EQ(lines, second.lines());
    std::vector<int> next(threads, 0);
    const std::regex whole(R"(thread (\d) line (\d+) ([a-d]{200}))");
    for (const auto& line : lines) {
        std::smatch m;
        const std::string message = test::message_of_line(line);
        ASSERT_TRUE(std::regex_match(message, m, whole)) << line;
        const int t = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), next[t]++);  // each thread's lines keep their order
        EXPECT_EQ(m[3].str(), std::string(200, char('a' + t)));
    }
}

}  // namespace
}  // namespace orvel
