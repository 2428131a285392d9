#include "base/safe_fifo.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace orvel {
namespace {

TEST(SafeFifo, TakesInOrderAndMovesOut) {
    safe_fifo<std::string> queue;
    std::string out = "untouched";
    EXPECT_FALSE(queue.pop(out));
    EXPECT_EQ(out, "untouched");
    queue.push("a");
    queue.push("b");
    EXPECT_EQ(queue.size(), 2u);
    ASSERT_TRUE(queue.pop(out));
    EXPECT_EQ(out, "a");
    ASSERT_TRUE(queue.pop(out));
    EXPECT_EQ(out, "b");
    EXPECT_TRUE(queue.empty());
}

TEST(SafeFifo, ConcurrentProducersLoseNothing) {
    safe_fifo<int> queue;
    std::vector<std::thread> producers;
    for (int t = 0; t < 4; ++t) {
        producers.emplace_back([&queue, t] {
            for (int i = 0; i < 1000; ++i) {
                queue.push(t * 1000 + i);
            }
        });
    }
    std::vector<int> last(4, -1);
    int taken = 0;
    while (taken < 4000) {
        int value = 0;
        if (queue.pop(value)) {
            EXPECT_GT(value % 1000, last[value / 1000]);  // per producer, in order
            last[value / 1000] = value % 1000;
            ++taken;
        }
    }
    for (auto& producer : producers) {
        producer.join();
    }
    EXPECT_TRUE(queue.empty());
}

}  // namespace
}  // namespace orvel
