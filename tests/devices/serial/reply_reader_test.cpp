// The reply reader of the text protocols against a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "devices/serial/reply_reader.h"
#include "sim/pty_line.h"

namespace orvel {
namespace {

using namespace std::chrono_literals;

class ReplyReader : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.open(line.path(), 115200)); }

    void send(const std::string& text) {
        line.send(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }
    std::string received() const {
        return std::string(reader.received().begin(), reader.received().end());
    }

    test::pty_line line{[](const std::uint8_t*, std::size_t) {}};
    platform::serial_port port;
    reply_reader reader{0x0D};
};

TEST_F(ReplyReader, ReplyEndingInTheTerminatorIsCompleteOnceTheLineIsQuiet) {
    send("$OKCN\r");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(reader.read(port, 100, 1000), 6u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(received(), "$OKCN\r");

    // Without the terminator it never is.
    reader.clear();
    send("$OKC");
    EXPECT_EQ(reader.read(port, 100, 400), 0u);
    EXPECT_EQ(received(), "$OKC");

    // A length of 0 takes any chunk as complete.
    reader.clear();
    send("partial");
    EXPECT_EQ(reader.read(port, 0, 1000), 7u);
}

TEST_F(ReplyReader, ChunkThatWouldOverflowTheReplyIsDropped) {
    send(std::string(1000, 'a'));
    EXPECT_EQ(reader.read(port, 0, 1000), 1000u);
    reader.state = 7;
    send(std::string(100, 'b') + "\r");
    EXPECT_EQ(reader.read(port, 0, 1000), 101u);
    EXPECT_EQ(received(), std::string(1000, 'a'));  // 1101 bytes do not fit in 1024

    reader.clear();
    EXPECT_EQ(reader.state, 0u);
    EXPECT_TRUE(received().empty());
}

}  // namespace
}  // namespace orvel
