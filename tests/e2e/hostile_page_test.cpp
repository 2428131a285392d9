// What a hostile page or local program can send the built agent: at worst its own session
// ends, and the next page is served at once with nothing of the last one's left over.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "link/websock_server.h"
#include "support/agent_process.h"
#include "support/page_client.h"

namespace orvel {
namespace {

using namespace std::chrono_literals;
using test::page_client;

struct hostile_texts {
    const char* what;
    std::vector<std::string> texts;
    std::string answer;  // what the page gets back, if it stays open
    bool too_big;        // the agent closes it with 1009
};

// Each row failed on the old agent: the deep texts overflowed its stack, the large message
// was queued and answered, and the flood's commands ran for minutes for the next page.
TEST(HostilePage, NoTextEndsTheAgentAndTheNextPageIsServedAtOnce) {
    test::agent_process agent;
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    ASSERT_NE(port, 0);
    const std::string search =
        R"({"command":"SearchDevice","device":"ZelPlus","server":"127.0.0.1:9",)"
        R"("userKey":"old-page","userSecret":"s","id_memberProduct":0})";
    const std::vector<hostile_texts> rows = {
        {"deep text at the size limit",
         {std::string(max_message_size, '[')},
         "{\"Status\":5, \"Code\":1200}",
         false},
        {"deep text of a million", {std::string(1000000, '[')}, "", true},
        {"1 MiB message",
         {R"({"command":"connect","pad":")" + std::string(1 << 20, 'x') + "\"}"},
         "",
         true},
        {"flood", std::vector<std::string>(10000, search), "", false},
    };
    for (const hostile_texts& row : rows) {
        {
            page_client page;
            ASSERT_TRUE(page.connect(port)) << row.what;
            ASSERT_TRUE(page.wait_for_status(0)) << row.what;
            const std::size_t mark = page.received_count();
            try {
                for (const std::string& text : row.texts) {
                    page.send(text);
                }
            } catch (const std::runtime_error&) {
                // the agent closed it under way
            }
            if (!row.answer.empty()) {
                EXPECT_TRUE(page.wait_for_message(row.answer, 10s, mark)) << row.what;
            }
            if (row.too_big) {
                // The agent's 1009 usually reaches the page; the reset of a socket closed with
                // the message unread may overtake it, so the agent's log tells (below).
                EXPECT_TRUE(page.wait_closed(10s)) << row.what;
            }
        }
        page_client next;
        ASSERT_TRUE(next.connect(port)) << row.what << ": " << next.http_status();
        EXPECT_TRUE(next.wait_for_status(0, 1s)) << row.what;
        // Nothing the last page sent is carried out for this one.
        std::this_thread::sleep_for(300ms);
        for (const std::string& message : next.messages()) {
            EXPECT_EQ(test::status_of(message).value_or(0), 0) << row.what << ": " << message;
            EXPECT_EQ(message.find("old-page"), std::string::npos) << row.what << ": " << message;
        }
        ASSERT_TRUE(agent.running()) << row.what;
    }
    // Logged when the agent's own close code was 1009.
    EXPECT_EQ(agent.log_count("Page closed: a message above 65536 bytes"), 2u);
    EXPECT_FALSE(agent.log_mentions("xxxxxxxx"));
}

}  // namespace
}  // namespace orvel
