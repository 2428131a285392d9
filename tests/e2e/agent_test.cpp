// The built agent, started as a member starts it, driven by a real TLS WebSocket page.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <rapidjson/document.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <regex>
#include <thread>

#include "support/agent_process.h"
#include "support/page_client.h"
#include "support/port_holder.h"

namespace orvel {
namespace {

using namespace std::chrono_literals;
using test::agent_process;
using test::page_client;

const std::string connect_command = "{\"command\":\"connect\"}";

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::size_t count_starting(const std::vector<std::string>& messages, const std::string& prefix) {
    return static_cast<std::size_t>(
        std::count_if(messages.begin(), messages.end(),
                      [&](const std::string& m) { return starts_with(m, prefix); }));
}

// These tests are about the page's own ports, 10001-10004, which they take in turn.
test::agent_options page_ports() {
    test::agent_options options;
    options.default_page_ports = true;
    return options;
}

TEST(Agent, OpenedPageGetsStatus0WithTheVersionInJsonLines) {
    agent_process agent(page_ports());
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    ASSERT_EQ(port, 10001);
    EXPECT_EQ(agent.listen_address(), "127.0.0.1");

    page_client page;
    ASSERT_TRUE(page.connect(port)) << page.failure();
    const auto status = page.wait_for_status(0);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, "{\"Status\":0, \"Version\":\"2.5.8.0\"}");

    const std::regex envelope(R"(\{"Time":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d", "Data":.*\})");
    bool status_line_seen = false;
    for (const std::string& line : page.received()) {
        rapidjson::Document doc;
        doc.Parse(line.c_str(), line.size());
        EXPECT_FALSE(doc.HasParseError()) << line;
        EXPECT_TRUE(std::regex_match(line, envelope)) << line;
        if (line.find("\"Data\":{\"Status\":0") != std::string::npos) {
            status_line_seen = true;
            ASSERT_TRUE(doc.IsObject() && doc["Data"].IsObject()) << line;
            EXPECT_STREQ(doc["Data"]["Version"].GetString(), "2.5.8.0");
        }
    }
    EXPECT_TRUE(status_line_seen);

    EXPECT_TRUE(agent.log_mentions("Version: 2, 5, 8, 0"));
    EXPECT_TRUE(agent.log_mentions("Keys path: " + agent.folder() + "localhost.key"));
    EXPECT_TRUE(agent.log_mentions("OS: "));
    // The one line for whoever started it by hand.
    EXPECT_EQ(agent.terminal_output(),
              "Orvel Sync is running; its log is " + agent.log_path() + "\n");
}

TEST(Agent, SecondPageGets429AndTheFirstKeepsWorking) {
    agent_process agent;
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    page_client first;
    ASSERT_TRUE(first.connect(port));
    ASSERT_TRUE(first.wait_for_status(0));

    page_client second;
    EXPECT_FALSE(second.connect(port));
    EXPECT_EQ(second.http_status(), 429);
    EXPECT_EQ(second.http_body(), "Only one client connection is supported.");

    // Still the command loop's page: a command is answered.
    const std::size_t mark = first.received_count();
    first.send(connect_command);
    EXPECT_TRUE(first.wait_for_message("Received message: " + connect_command, 5s, mark));
    EXPECT_TRUE(first.wait_for_status(0, 5s, mark));
    EXPECT_TRUE(first.is_open());
}

TEST(Agent, TakenPortsMoveItToTheNextFreeOne) {
    test::port_holder taken({10001, 10002});
    agent_process agent(page_ports());
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    ASSERT_EQ(port, 10003);
    page_client page;
    ASSERT_TRUE(page.connect(port));
    EXPECT_TRUE(page.wait_for_status(0));
}

TEST(Agent, AllPortsTakenEndsTheRunWithStatus0) {
    test::port_holder taken({10001, 10002, 10003, 10004});
    agent_process agent(page_ports());
    agent.start();
    EXPECT_EQ(agent.wait_exit(), 0);
    const std::vector<std::string> messages = agent.log_messages();
    EXPECT_TRUE(agent.log_mentions("listen couldn't find free port: Address already in use"));
    EXPECT_EQ(agent.log_count("wrk.run failed"), 1u);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "app exited");
}

TEST(Agent, SquatterOnIpv6LoopbackMovesItToAPortFreeOnBothAddresses) {
    // Browsers try ::1 first for localhost: an agent on 127.0.0.1:10001 alone would leave
    // the page to whoever holds [::1]:10001.
    test::port_holder squatter({10001}, "::1");
    agent_process agent(page_ports());
    agent.start();
    ASSERT_EQ(agent.wait_for_port(), 10002);
    EXPECT_FALSE(test::tcp_accepts("127.0.0.1", 10001)) << "no half-taken port is left";
    EXPECT_THROW(test::port_holder({10002}, "::1"), std::exception);
    for (const char* address : {"127.0.0.1", "::1"}) {
        page_client page;
        ASSERT_TRUE(page.connect(10002, page_client::default_wait, address)) << page.failure();
        EXPECT_TRUE(page.wait_for_status(0)) << address;
    }
}

TEST(Agent, WithoutIpv6LoopbackItServes127001AloneAndSaysSo) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root for a network namespace whose loopback has no ::1";
    }
    const std::string without_ipv6 =
        "echo 1 >/proc/sys/net/ipv6/conf/lo/disable_ipv6 && ip link set lo up && exec \"$1\"";
    test::agent_options options = page_ports();
    options.launcher = {"unshare", "-n", "sh", "-c", without_ipv6, "x"};
    agent_process agent(options);
    agent.start();
    EXPECT_TRUE(agent.wait_for_log("Serving the page on port")) << agent.terminal_output();
    EXPECT_EQ(agent.log_count("Serving the page on port 10001 of 127.0.0.1"), 1u);
    EXPECT_TRUE(agent.log_mentions("No IPv6 loopback on this system"));
}

// A second member's page: a uid no account uses, and a child forked before the test has
// threads that, once told to go, runs as that user and hands back its report.
class other_member {
public:
    explicit other_member(const std::function<std::string()>& work) {
        while (::getpwuid(uid) != nullptr) {
            ++uid;
        }
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0 || (pid_ = ::fork()) < 0) {
            throw std::runtime_error("other_member: cannot start");
        }
        if (pid_ == 0) {
            char go = 0;
            const bool ready = ::read(ends[1], &go, 1) == 1 && ::setgroups(0, nullptr) == 0 &&
                               ::setgid(uid) == 0 && ::setuid(uid) == 0;
            const std::string report = ready ? work() : "cannot become the other member";
            ::_exit(::write(ends[1], report.data(), report.size()) > 0 ? 0 : 1);
        }
        ::close(ends[1]);
        socket_ = ends[0];
    }
    ~other_member() {
        ::close(socket_);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    std::string run() {
        std::string report;
        char buffer[256];
        for (ssize_t got = ::write(socket_, "g", 1);
             got > 0 && (got = ::read(socket_, buffer, sizeof buffer)) > 0;) {
            report.append(buffer, static_cast<std::size_t>(got));
        }
        return report;
    }
    std::string id() const { return std::to_string(uid); }

    uid_t uid = 61000;

private:
    pid_t pid_ = -1;
    int socket_ = -1;
};

TEST(Agent, AnotherUsersPageIsRefusedAndFindsItsOwnAgentOnTheNextPort) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a second agent and page as another user";
    }
    // The other member's page, as the page tries the ports: 10001 first, then the next.
    other_member other([] {
        page_client first;
        first.connect(10001);
        page_client next;
        const bool served = next.connect(10002) && next.wait_for_status(0);
        return std::to_string(first.http_status()) + " " + first.http_body() + "; " +
               (served ? "served" : next.failure());
    });
    agent_process ours(page_ports());
    ours.start();
    ASSERT_EQ(ours.wait_for_port(), 10001);
    test::agent_options options = page_ports();
    options.launcher = {"setpriv", "--reuid=" + other.id(), "--regid=" + other.id(),
                        "--clear-groups"};
    agent_process theirs(options);
    ASSERT_EQ(
        std::system(("chown -R " + other.id() + ":" + other.id() + " " + theirs.folder()).c_str()),
        0);
    theirs.start();
    ASSERT_EQ(theirs.wait_for_port(), 10002) << theirs.terminal_output();

    page_client page;
    ASSERT_TRUE(page.connect(10001));
    ASSERT_TRUE(page.wait_for_status(0));
    EXPECT_EQ(other.run(), "403 This agent serves another user; served");
    EXPECT_TRUE(ours.log_mentions("Connection of another user refused: user " + other.id()));
    const std::size_t mark = page.received_count();
    page.send(connect_command);
    EXPECT_TRUE(page.wait_for_status(0, 5s, mark));

    // Nor does our page get into theirs.
    page_client intruder;
    EXPECT_FALSE(intruder.connect(10002));
    EXPECT_EQ(intruder.http_status(), 403);
    EXPECT_EQ(intruder.http_body(), "This agent serves another user");
}

TEST(Agent, LogFileThatCannotBeSetUpEndsTheRunWith255) {
    test::agent_options options;
    options.environment = {{"TMPDIR", "/nonexistent-orvel-folder/"}};
    agent_process agent(options);
    agent.start();
    EXPECT_EQ(agent.wait_exit(), 255);
    // Nothing reaches a log; whoever started it reads why on standard error.
    EXPECT_EQ(agent.terminal_output(),
              "Orvel Sync cannot use its temporary folder: cannot create "
              "/nonexistent-orvel-folder/orvelsync-" +
                  std::to_string(::geteuid()) + ": No such file or directory\n");
}

class CloseRequest : public ::testing::TestWithParam<int> {};

TEST_P(CloseRequest, EndsTheAgentInOrderWithStatus0) {
    agent_process agent;
    agent.start();
    ASSERT_NE(agent.wait_for_port(), 0);
    // The command loop wakes every 300 ms without a page, the sender every 50 ms.
    EXPECT_EQ(agent.stop(GetParam(), 1s), 0);
    const std::vector<std::string> messages = agent.log_messages();
    EXPECT_EQ(agent.log_count("WM_CLOSE received"), 1u);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "app exited");
}

INSTANTIATE_TEST_SUITE_P(Signals, CloseRequest, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

TEST(Agent, RestartKeepsThePreviousLogAndServesTheSamePortAgain) {
    agent_process agent(page_ports());
    agent.start();
    ASSERT_EQ(agent.wait_for_port(), 10001);
    {
        // The agent closes this connection, which leaves it in TIME_WAIT on 10001.
        page_client page;
        ASSERT_TRUE(page.connect(10001));
        ASSERT_TRUE(page.wait_for_status(0));
        ASSERT_EQ(agent.stop(), 0);
        EXPECT_TRUE(page.wait_closed());
    }
    const std::string first_log = agent.log_text();

    agent.start();
    EXPECT_EQ(agent.wait_for_port(), 10001);
    EXPECT_EQ(agent.previous_log_text(), first_log);
    EXPECT_TRUE(agent.wait_for_log("Version: 2, 5, 8, 0"));
    EXPECT_FALSE(agent.log_mentions("app exited"));
    EXPECT_FALSE(agent.log_mentions("on_connected"));
}

TEST(Agent, Tls11PageIsRefusedAndA12PageGetsIn) {
    agent_process agent;
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    page_client old(test::tls_version::v1_1);
    EXPECT_FALSE(old.connect(port));
    EXPECT_TRUE(agent.wait_for_log("TLS handshake failed: unsupported protocol"));

    page_client page;
    ASSERT_TRUE(page.connect(port)) << page.failure();
    EXPECT_TRUE(page.wait_for_status(0));
}

TEST(Agent, MissingCertificateFailsEveryHandshakeButTheAgentKeepsListening) {
    test::agent_options options = page_ports();
    options.with_certificate = false;
    options.with_key = false;
    agent_process agent(options);
    // No pair beside it, and the member's own folder is a link, which it refuses.
    const std::string member_dir = agent.member_dir();
    boost::filesystem::create_directories(agent.folder() + "config");
    boost::filesystem::create_symlink(agent.temp_dir(),
                                      member_dir.substr(0, member_dir.size() - 1));
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    ASSERT_EQ(port, 10001);
    for (int attempt = 0; attempt < 3; ++attempt) {
        page_client page;
        EXPECT_FALSE(page.connect(port));
    }
    EXPECT_TRUE(agent.wait_for_log("use_certificate_chain_file failed: No such file"));
    EXPECT_TRUE(agent.log_mentions("The member's own certificate cannot be used: " +
                                   member_dir.substr(0, member_dir.size() - 1) +
                                   " is a symbolic link"));
    EXPECT_TRUE(agent.running());
    EXPECT_EQ(agent.wait_for_port(), port);
    EXPECT_EQ(agent.stop(), 0);
}

TEST(Agent, ClosedPageEndsItsSessionOnceAndANewPageConnects) {
    agent_process agent;
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    {
        page_client page;
        ASSERT_TRUE(page.connect(port));
        ASSERT_TRUE(page.wait_for_status(0));
        page.close();
    }
    ASSERT_TRUE(agent.wait_for_log("drop 0x"));

    page_client next;
    ASSERT_TRUE(next.connect(port));
    ASSERT_TRUE(next.wait_for_status(0));
    // Lines logged after the first page had gone (its "drop") never reach the next one.
    for (const std::string& message : next.messages()) {
        EXPECT_FALSE(starts_with(message, "drop ")) << message;
        EXPECT_FALSE(starts_with(message, "on_disconnected")) << message;
    }
    ASSERT_EQ(agent.stop(), 0);

    // One close, one drop, until the shutdown drops the second page.
    const std::vector<std::string> messages = agent.log_messages();
    const auto second_open =
        std::find_if(messages.begin(), messages.end(),
                     [](const std::string& m) { return starts_with(m, "on_connected"); });
    ASSERT_NE(second_open, messages.end());
    const std::vector<std::string> first_session(
        messages.begin(), std::find_if(second_open + 1, messages.end(), [](const std::string& m) {
            return starts_with(m, "on_connected");
        }));
    EXPECT_EQ(count_starting(first_session, "on_disconnected"), 1u);
    EXPECT_EQ(count_starting(first_session, "drop "), 1u);
}

TEST(Agent, LinesLoggedBeforeTheShutdownReachThePageBeforeItCloses) {
    agent_process agent;
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    page_client page;
    ASSERT_TRUE(page.connect(port));
    ASSERT_TRUE(page.wait_for_status(0));
    for (int i = 0; i < 100; ++i) {
        page.send(connect_command);
    }
    // Every text answered: one still arriving as the agent stops would be echoed after the
    // shutdown's line.
    ASSERT_TRUE(page.wait_for(
        [](const std::vector<std::string>& lines) {
            return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                       return line.find("\"Data\":{\"Status\":0") != std::string::npos;
                   }) == 101;
        },
        5s));
    EXPECT_EQ(agent.stop(), 0);
    ASSERT_TRUE(page.wait_closed());
    EXPECT_EQ(page.close_code(), 1001);
    // The last line logged while the page was still the client.
    const std::vector<std::string> messages = page.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "WM_CLOSE received");
}

}  // namespace
}  // namespace orvel
