#include "base/events.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace orvel {
namespace {

using clock_type = std::chrono::steady_clock;

TEST(Backoff, DelaysGrowByStepUpToTheCapThenStay) {
    backoff_record record{5000, 5000, 3, 0};
    std::vector<std::uint32_t> delays;
    for (int i = 0; i < 6; ++i) {
        delays.push_back(next_backoff_delay(record));
    }
    EXPECT_EQ(delays, (std::vector<std::uint32_t>{5000, 10000, 15000, 20000, 20000, 20000}));
    EXPECT_EQ(record.steps, 4u);  // min(count, max) + 1 after every wait past the cap
}

TEST(Backoff, EmptyEventCountsTheStepButNeverWaits) {
    empty_event never;
    backoff_record record{5000, 5000, 3, 0};
    const auto start = clock_type::now();
    EXPECT_FALSE(never.wait(record));
    EXPECT_FALSE(never.wait(record));
    EXPECT_LT(clock_type::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(record.steps, 2u);
}

TEST(Event, SetEventAnswersAtOnceAndClearedEventTimesOut) {
    event flag;
    EXPECT_FALSE(flag.is_set());
    EXPECT_FALSE(flag.wait(20u));
    flag.set();
    EXPECT_TRUE(flag.is_set());
    const auto start = clock_type::now();
    EXPECT_TRUE(flag.wait(60000u));
    EXPECT_TRUE(flag.wait());
    backoff_record record{60000, 0, 0, 0};
    EXPECT_TRUE(flag.wait(record));
    EXPECT_LT(clock_type::now() - start, std::chrono::seconds(5));
    flag.clear();
    EXPECT_FALSE(flag.is_set());
    EXPECT_FALSE(flag.wait(1u));
}

TEST(Event, SettingWakesEveryWaiter) {
    event flag;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (flag.wait(60000u)) {
                ++woken;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    flag.set();
    for (auto& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(woken.load(), 3);
}

TEST(EmptyEvent, EveryWaitAnswersFalseAtOnce) {
    empty_event never;
    const auto start = clock_type::now();
    EXPECT_FALSE(never.wait());
    EXPECT_FALSE(never.wait(60000u));
    EXPECT_LT(clock_type::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace orvel
