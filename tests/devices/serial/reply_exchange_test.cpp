// The command-and-reply step of the text protocols against a pseudo-terminal: how often a
// command is written to a unit that does not answer, and how soon an interrupt ends it.
#include "devices/serial/reply_exchange.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "base/failures.h"
#include "sim/pty_line.h"

namespace orvel {
namespace {

using namespace std::chrono_literals;

const std::uint8_t command[] = {'p', 'i', 'n', 'g', 0x00};
constexpr exchange_rules quick{3, 2, 0x7FFFFFFF, 100, "\r\n"};

class ReplyExchange : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.open(line.path(), 9600)); }

    bool exchange(const exchange_rules& rules) {
        return collect_reply(port, reader, interrupt, command, sizeof command, rules);
    }
    unsigned writes() const { return static_cast<unsigned>(received / sizeof command); }

    // Answers from the answered-th write on (0: never).
    std::atomic<unsigned> answer_from{0};
    std::atomic<std::size_t> received{0};
    test::pty_line line{[this](const std::uint8_t*, std::size_t count) {
        received += count;
        if (answer_from != 0 && writes() >= answer_from) {
            static const std::uint8_t pong[] = {'p', 'o', 'n', 'g', 0x00};
            line.send(pong, sizeof pong);
        }
    }};
    platform::serial_port port;
    reply_reader reader{0x00};
    event interrupt;
};

TEST_F(ReplyExchange, CommandIsWrittenAgainUntilTheUnitAnswers) {
    answer_from = 2;
    ASSERT_TRUE(exchange(quick));
    EXPECT_EQ(writes(), 2u);
    EXPECT_EQ(reply_text(reader), "pong");
}

TEST_F(ReplyExchange, SilentUnitGetsEveryTryAndNoMore) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(exchange(quick));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(writes(), 3u);
    // Each try: the write's pause, the unit's time to act and two reads of 100 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 3 * 550ms);
}

TEST_F(ReplyExchange, InterruptEndsTheExchangeBeforeAWriteOrAfterARead) {
    interrupt.set();
    try {
        exchange(quick);
        ADD_FAILURE() << "not interrupted";
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.code(), sync_error_code::interrupted);
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(received.load(), 0u);

    // Set while the unit is silent: one read of the 1000 ms that a Zel unit is given.
    interrupt.clear();
    const exchange_rules zel{5, 5, 0x7FFFFFFF, 1000, "\r\n"};
    auto running = std::async(std::launch::async, [&] { return exchange(zel); });
    std::this_thread::sleep_for(700ms);
    const auto set_at = std::chrono::steady_clock::now();
    interrupt.set();
    EXPECT_THROW(running.get(), extl_exception);
    EXPECT_LT(std::chrono::steady_clock::now() - set_at, 1100ms);
    EXPECT_EQ(writes(), 1u);
}

}  // namespace
}  // namespace orvel
