// The page's link against a real TLS WebSocket client on the real ports.
#include "link/worker.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <thread>

#include "support/capture_logger.h"
#include "support/leaving_page.h"
#include "support/page_client.h"
#include "support/port_holder.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"
#include "support/test_certificate.h"

namespace orvel {
namespace {

using namespace std::chrono_literals;
using test::page_client;

const std::string connect_command = "{\"command\":\"connect\"}";
const std::string disconnect_command = "{\"command\":\"disconnect\"}";

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override { test::write_test_certificate(cert_path, key_path); }

    void start() {
        server = std::make_unique<worker>(key_path, cert_path, commands, stop_event);
        ASSERT_TRUE(server->run());
    }

    // Collects what reached the command queue until it holds `text` (or time runs out).
    bool wait_command(const std::string& text, std::chrono::milliseconds limit = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            std::string taken;
            while (commands.pop(taken)) {
                seen.push_back(taken);
                if (taken == text) {
                    return true;
                }
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(2ms);
        }
    }

    // Open once the server has taken the page as its client, not merely answered it.
    void open_page(page_client& page) {
        ASSERT_TRUE(page.connect(server->port())) << page.failure();
        ASSERT_TRUE(wait_command(connect_command));
    }

    // Every handler before this point has finished: the server thread handles the page's
    // messages in order.
    void sync_with_server(page_client& page, const std::string& marker) {
        page.send(marker);
        ASSERT_TRUE(wait_command(marker));
    }

    bool wait_logged(const std::string& fragment, std::chrono::milliseconds limit = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!logged.mentions(fragment)) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }

    test::temp_folder folder{"worker"};
    std::string cert_path = folder / "localhost.cert";
    std::string key_path = folder / "localhost.key";
    test::capture_logger logged;
    safe_fifo<std::string> commands;
    event stop_event;
    std::vector<std::string> seen;
    std::unique_ptr<worker> server;
};

TEST_F(WorkerTest, OpenedPageIsAnnouncedAndReceivesEveryLineAsJson) {
    start();
    EXPECT_EQ(server->port(), first_port);
    page_client page;
    open_page(page);
    EXPECT_EQ(server->connection_state(), worker::client_connected);

    log(3, "hello page / %d", 7);
    ASSERT_TRUE(page.wait_for_message("hello page / 7"));
    for (const std::string& line : page.received()) {
        rapidjson::Document doc;
        doc.Parse(line.c_str(), line.size());
        ASSERT_FALSE(doc.HasParseError()) << line;
        EXPECT_TRUE(doc.IsObject() && doc.HasMember("Time") && doc.HasMember("Data")) << line;
    }
}

// A service's error body or a unit's name in a code page is no reason to lose the page.
TEST_F(WorkerTest, LineThatIsNotUtf8ReachesThePageWithReplacementsAndKeepsIt) {
    start();
    page_client page;
    open_page(page);
    log(3,
        "answer: \xFF\xFE"
        "body");
    EXPECT_TRUE(
        page.wait_for_message("answer: \xEF\xBF\xBD\xEF\xBF\xBD"
                              "body"));
    log(3, "still connected");
    EXPECT_TRUE(page.wait_for_message("still connected"));
    EXPECT_EQ(server->connection_state(), worker::client_connected);
}

// What a browser shows for https://localhost:<port>/, where a member accepts the
// certificate: the agent runs, and the page's session is not touched.
TEST_F(WorkerTest, PlainHttpsRequestGetsAShortPageAndLeavesThePageAlone) {
    start();
    page_client page;
    open_page(page);
    const std::string command =
        "curl -sk -D - https://127.0.0.1:" + std::to_string(server->port()) + "/";
    std::string answer;
    if (FILE* curl = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, curl)) > 0;) {
            answer.append(buffer, got);
        }
        ::pclose(curl);
    }
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_NE(answer.find("Content-Type: text/html"), std::string::npos) << answer;
    EXPECT_NE(answer.find("Orvel Sync 2.5.8.0 is running"), std::string::npos) << answer;
    sync_with_server(page, "after the plain request");
    EXPECT_EQ(seen, (std::vector<std::string>{connect_command, "after the plain request"}));
}

TEST_F(WorkerTest, PageTextsReachTheCommandQueueUnchangedAndAreEchoed) {
    start();
    page_client page;
    open_page(page);
    const std::string text = R"({"command":"SearchDevice","server":"a/b","userKey":"k"})";
    page.send(text);
    ASSERT_TRUE(wait_command(text));
    EXPECT_TRUE(page.wait_for_message("Received message: " + text));
}

TEST_F(WorkerTest, SecondPageIsRefusedWith429AndTheFirstKeepsItsSession) {
    start();
    page_client first;
    open_page(first);

    page_client second;
    EXPECT_FALSE(second.connect(server->port()));
    EXPECT_EQ(second.http_status(), 429);
    EXPECT_EQ(second.http_body(), "Only one client connection is supported.");

    ASSERT_TRUE(wait_logged("on_fail get_local_close_reason"));
    sync_with_server(first, "after the refusal");
    EXPECT_EQ(seen, (std::vector<std::string>{connect_command, "after the refusal"}));
    EXPECT_EQ(server->connection_state(), worker::client_connected);
    log(3, "still yours");
    EXPECT_TRUE(first.wait_for_message("still yours"));
}

TEST_F(WorkerTest, ClosingThePageQueuesOneDisconnectAndANewPageCanConnect) {
    start();
    {
        page_client page;
        open_page(page);
        page.close();
    }
    ASSERT_TRUE(wait_command(disconnect_command));
    EXPECT_EQ(server->connection_state(), worker::listening);

    page_client next;
    open_page(next);
    sync_with_server(next, "next page");
    EXPECT_EQ(seen, (std::vector<std::string>{connect_command, disconnect_command, connect_command,
                                              "next page"}));
}

// The queue grew without bound, and what a page left in it was carried out for the next.
TEST_F(WorkerTest, PageThatFloodsTheQueueIsClosedAndWhatItQueuedIsDropped) {
    start();
    page_client page;
    open_page(page);
    try {
        for (int i = 0; i < 1000; ++i) {
            page.send("{\"command\":\"flood\"}");
        }
    } catch (const std::runtime_error&) {
        // closed under way
    }
    ASSERT_TRUE(page.wait_closed());
    EXPECT_EQ(page.close_code(), 1013);  // try again later
    EXPECT_TRUE(wait_logged("Page closed: 256 commands not yet taken"));
    std::string left;
    ASSERT_TRUE(commands.pop(left));
    EXPECT_EQ(left, disconnect_command);
    EXPECT_TRUE(commands.empty());

    page_client next;
    open_page(next);
    sync_with_server(next, "next page");
}

// A browser that reloads sends its close frame and leaves the TLS shutdown unanswered; the
// reloaded page must get in at once, not when the old connection's shutdown times out.
TEST_F(WorkerTest, PageThatIsLeavingGivesItsPlaceToTheNextAtOnce) {
    start();
    auto old = std::make_unique<test::leaving_page>();
    ASSERT_EQ(old->open(server->port()), 101);
    ASSERT_TRUE(wait_command(connect_command));
    // The sender hands the old page its last line first: a line that failed to go out
    // would drop the old page by itself.
    std::this_thread::sleep_for(200ms);
    old->leave();
    // Time for the agent to read the close frame; its shutdown of the old page then waits
    // seconds for an answer that never comes.
    std::this_thread::sleep_for(200ms);

    page_client next;
    ASSERT_TRUE(next.connect(server->port())) << next.http_status() << " " << next.failure();
    ASSERT_TRUE(wait_command(connect_command));
    sync_with_server(next, "reloaded");

    // When the old connection finally ends, the new page's session goes on.
    old.reset();
    ASSERT_TRUE(wait_logged("on_disconnected"));
    sync_with_server(next, "after the old page ended");
    EXPECT_EQ(seen, (std::vector<std::string>{connect_command, disconnect_command, connect_command,
                                              "reloaded", "after the old page ended"}));
    EXPECT_EQ(server->connection_state(), worker::client_connected);
    log(3, "to the reloaded page");
    EXPECT_TRUE(next.wait_for_message("to the reloaded page"));
}

TEST_F(WorkerTest, CloseThenImmediateReconnectIsNeverRefused) {
    start();
    std::vector<std::unique_ptr<page_client>> pages;
    for (int round = 0; round < 20; ++round) {
        if (!pages.empty()) {
            pages.back()->close(0ms);  // a close frame, and not a moment's wait
        }
        pages.push_back(std::make_unique<page_client>());
        ASSERT_TRUE(pages.back()->connect(server->port()))
            << "round " << round << ": " << pages.back()->http_status();
        ASSERT_TRUE(wait_command(connect_command)) << "round " << round;
    }
    sync_with_server(*pages.back(), "last");
    // One connect per page and one disconnect for each page before the last, in turn.
    std::vector<std::string> expected;
    for (int round = 0; round < 20; ++round) {
        if (round > 0) {
            expected.push_back(disconnect_command);
        }
        expected.push_back(connect_command);
    }
    expected.push_back("last");
    EXPECT_EQ(seen, expected);
}

TEST_F(WorkerTest, PageFromAnotherSiteIsRefusedWith403AndTheOpenPageKeepsWorking) {
    start();
    page_client page;
    page.set_origin("http://localhost:8080");
    open_page(page);

    page_client foreign;
    foreign.set_origin("https://evil.example");
    EXPECT_FALSE(foreign.connect(server->port()));
    EXPECT_EQ(foreign.http_status(), 403);
    EXPECT_TRUE(wait_logged("Origin refused: https://evil.example"));
    // Nor does it get in once the slot is free.
    page.close();
    ASSERT_TRUE(wait_command(disconnect_command));
    test::leaving_page later_foreign;
    EXPECT_EQ(later_foreign.open(server->port(), "null"), 403);

    page_client next;
    next.set_origin("https://127.0.0.1");
    open_page(next);
    sync_with_server(next, "after the foreign pages");
    EXPECT_EQ(seen, (std::vector<std::string>{connect_command, disconnect_command, connect_command,
                                              "after the foreign pages"}));
}

TEST_F(WorkerTest, LinesLoggedWhileNoPageIsConnectedNeverReachALaterPage) {
    start();
    log(3, "before any page");
    {
        page_client page;
        open_page(page);
        page.close();
    }
    ASSERT_TRUE(wait_command(disconnect_command));
    log(3, "between pages");

    page_client later;
    open_page(later);
    log(3, "for the later page");
    ASSERT_TRUE(later.wait_for_message("for the later page"));
    for (const std::string& message : later.messages()) {
        EXPECT_EQ(message.find("before any page"), std::string::npos) << message;
        EXPECT_EQ(message.find("between pages"), std::string::npos) << message;
    }
}

// One line per 50 ms wake-up would need 50 s for this burst.
TEST_F(WorkerTest, BurstOfLinesArrivesCompleteAndInOrder) {
    start();
    page_client page;
    open_page(page);
    const std::size_t from = page.received_count();
    constexpr int count = 1000;
    for (int i = 0; i < count; ++i) {
        log(3, "burst %d", i);
    }
    ASSERT_TRUE(page.wait_for_message("burst 999", 10s, from)) << page.received_count();
    std::vector<std::string> burst;
    for (const std::string& message : page.messages()) {
        if (message.rfind("burst ", 0) == 0) {
            burst.push_back(message);
        }
    }
    ASSERT_EQ(burst.size(), std::size_t(count));
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(burst[i], "burst " + std::to_string(i));
    }
}

TEST_F(WorkerTest, LinesQueuedBeforeStopReachThePageBeforeItIsClosed) {
    start();
    page_client page;
    open_page(page);
    for (int i = 0; i < 300; ++i) {
        log(3, "last words %d", i);
    }
    server->stop();
    EXPECT_EQ(server->connection_state(), worker::idle);
    EXPECT_TRUE(stop_event.is_set());
    ASSERT_TRUE(page.wait_closed());
    EXPECT_EQ(page.close_code(), 1001);  // going away
    EXPECT_TRUE(page.wait_for_message("last words 299", 0ms));

    // The stopped server no longer mirrors the log.
    log(3, "after the stop");
    EXPECT_FALSE(page.wait_for_message("after the stop", 0ms));
}

TEST_F(WorkerTest, StopWithoutAPageEndsBothThreadsAndFreesThePortWithTheWorker) {
    start();
    server->stop();
    EXPECT_EQ(server->connection_state(), worker::idle);
    EXPECT_TRUE(stop_event.is_set());
    server.reset();

    event next_stop;
    worker next(key_path, cert_path, commands, next_stop);
    ASSERT_TRUE(next.run());
    EXPECT_EQ(next.port(), first_port);
}

TEST_F(WorkerTest, TakenPortsMoveTheServerToTheNextFreeOne) {
    // One holder on every address, one on loopback alone: both keep the port from us.
    test::port_holder any_address({10001}, "0.0.0.0");
    test::port_holder loopback({10002}, "127.0.0.1");
    start();
    EXPECT_EQ(server->port(), 10003);
    page_client page;
    EXPECT_TRUE(page.connect(10003)) << page.failure();
}

TEST_F(WorkerTest, PagePortsSettingMovesTheServerToItsRange) {
    test::scoped_env setting("ORVELSYNC_PAGE_PORTS", "10011-10012");
    test::port_holder taken({10011});
    start();
    EXPECT_EQ(server->port(), 10012);
}

TEST_F(WorkerTest, AllPortsTakenFailsTheStart) {
    test::port_holder taken({10001, 10002, 10003, 10004});
    worker refused(key_path, cert_path, commands, stop_event);
    EXPECT_FALSE(refused.run());
    EXPECT_TRUE(logged.mentions("listen couldn't find free port: Address already in use"))
        << testing::PrintToString(logged.messages());
    EXPECT_EQ(refused.port(), 0);
}

TEST_F(WorkerTest, ServesLoopbackOnly) {
    start();
    EXPECT_TRUE(test::tcp_accepts("127.0.0.1", server->port()));
    EXPECT_TRUE(test::tcp_accepts("::1", server->port()));
    // Every other address of the machine, 127.0.0.2 included, is refused.
    EXPECT_FALSE(test::tcp_accepts("127.0.0.2", server->port()));
}

TEST_F(WorkerTest, Tls11PageIsRefusedWithoutDisturbingTheConnectedOne) {
    start();
    page_client page;
    open_page(page);

    page_client old(test::tls_version::v1_1);
    EXPECT_FALSE(old.connect(server->port()));
    EXPECT_EQ(old.http_status(), 0);
    ASSERT_TRUE(wait_logged("TLS handshake failed: unsupported protocol"))
        << testing::PrintToString(logged.messages());
    ASSERT_TRUE(wait_logged("on_fail get_local_close_reason"));

    sync_with_server(page, "after the old page");
    EXPECT_EQ(seen, (std::vector<std::string>{connect_command, "after the old page"}));
    log(3, "still connected");
    EXPECT_TRUE(page.wait_for_message("still connected"));
}

TEST_F(WorkerTest, MissingCertificateFailsEachHandshakeWhileTheServerKeepsListening) {
    test::temp_folder empty("no-cert");
    server = std::make_unique<worker>(empty / "localhost.key", empty / "localhost.cert", commands,
                                      stop_event);
    ASSERT_TRUE(server->run());
    for (int attempt = 0; attempt < 2; ++attempt) {
        page_client page;
        EXPECT_FALSE(page.connect(server->port()));
    }
    EXPECT_TRUE(logged.mentions("use_certificate_chain_file failed: No such file or directory"))
        << testing::PrintToString(logged.messages());
    EXPECT_TRUE(wait_logged("TLS handshake failed: no shared cipher"));

    // The files are read for every connection, when the endpoint prepares it to accept:
    // the connection already waiting fails, the next page gets in without a restart.
    test::write_test_certificate(empty / "localhost.cert", empty / "localhost.key");
    {
        page_client prepared_before;
        EXPECT_FALSE(prepared_before.connect(server->port()));
    }
    page_client page;
    EXPECT_TRUE(page.connect(server->port())) << page.failure();
}

TEST_F(WorkerTest, MissingKeyIsLoggedAndFailsTheHandshake) {
    test::temp_folder only_cert("no-key");
    test::write_test_certificate(only_cert / "localhost.cert", folder / "unused.key");
    server = std::make_unique<worker>(only_cert / "localhost.key", only_cert / "localhost.cert",
                                      commands, stop_event);
    ASSERT_TRUE(server->run());
    page_client page;
    EXPECT_FALSE(page.connect(server->port()));
    EXPECT_TRUE(logged.mentions("use_private_key_file failed: "))
        << testing::PrintToString(logged.messages());
}

}  // namespace
}  // namespace orvel
