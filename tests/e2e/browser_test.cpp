// The built agent and a page in headless Chromium, as a member's browser runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/test_http_server.h"
#include "support/agent_process.h"
#include "support/headless_browser.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

using namespace std::chrono_literals;

// Opens the agent once on load and keeps what happens to the socket; a page that retried
// would hide a refusal, so this one never does.
const char* const page_html = R"(<!doctype html>
<meta charset="utf-8"><title>Orvel test page</title>
<script>
sessionStorage.loads = (Number(sessionStorage.loads) || 0) + 1;
const loads = Number(sessionStorage.loads);
const events = [];
const lines = [];
const socket = new WebSocket('wss://localhost:' + new URLSearchParams(location.search).get('port') + '/');
socket.onopen = () => events.push('open');
socket.onerror = () => events.push('error');
socket.onclose = (e) => events.push('close ' + e.code);
socket.onmessage = (m) => lines.push(JSON.parse(m.data).Data);
const statuses = () => lines.filter((d) => typeof d === 'object').map((d) => JSON.stringify(d));
const said = (text) => lines.some((d) => d === text);
</script>)";

const std::string user_key = "member-key";
const std::string user_secret = "member-secret";

class Browser : public ::testing::Test {
protected:
    void SetUp() override {
        cloud.add_user(user_key, user_secret);
        test::http_reply page = test::http_reply::text(200, page_html);
        page.headers = {{"Content-Type", "text/html"}};
        cloud.reply("/page.html", page);
        test::agent_options options;
        options.environment = {{"ORVELSYNC_VOLUMES", volume.path()}};
        agent = std::make_unique<test::agent_process>(options);
        agent->start();
        port = agent->wait_for_port();
        ASSERT_NE(port, 0);
        browser = std::make_unique<test::headless_browser>(std::vector<std::string>{
            "--ignore-certificate-errors", "--host-resolver-rules=MAP evil.example 127.0.0.1"});
    }

    std::string page_url(const std::string& host = "127.0.0.1") const {
        return "http://" + host + ":" + std::to_string(cloud.port()) +
               "/page.html?port=" + std::to_string(port);
    }

    // The tab's socket has settled: opened, or refused without ever opening.
    std::string settled(const std::string& tab) {
        if (!browser->wait_until(tab, "events[0] === 'open' || events.length >= 2")) {
            return "nothing";
        }
        return browser->evaluate(tab, "events.join(',')").asString();
    }

    bool opened(const std::string& tab) { return settled(tab).rfind("open", 0) == 0; }

    void send(const std::string& tab, const std::string& text) {
        browser->evaluate(tab, "socket.send(" + Json::Value(text).toStyledString() + ")");
    }

    bool has_status(const std::string& tab, const std::string& status) {
        return browser->wait_until(
            tab, "statuses().includes(" + Json::Value(status).toStyledString() + ")");
    }

    // A command reaches the agent and its echo comes back to this tab.
    bool answers(const std::string& tab, const std::string& text) {
        send(tab, text);
        return browser->wait_until(
            tab, "said(" + Json::Value("Received message: " + text).toStyledString() + ")");
    }

    test::test_http_server cloud;
    test::temp_folder volume{"unit"};
    std::unique_ptr<test::agent_process> agent;
    std::unique_ptr<test::headless_browser> browser;
    std::uint16_t port = 0;
};

TEST_F(Browser, PageUpdatesAZelPlusCourse) {
    const std::string before(3 * 1808, 'o');
    test::write_file(volume / "SYSREG.SMI", "");
    test::write_file(volume / "EMBEDD01.GLF", before);
    const std::string course(1808, 'n');
    cloud.reply_rest(
        "DeviceCourseDataDetails",
        test::http_reply::json(R"({"Status":1,"ErrorMessage":"","glfCourse":{"index":1,"glf":")" +
                               test::reference_base64(course) +
                               R"("},"id_course":77,"courseName":"Course 77"})"));

    const std::string tab = browser->open_tab(page_url());
    ASSERT_TRUE(opened(tab)) << settled(tab);
    ASSERT_TRUE(has_status(tab, R"({"Status":0,"Version":"2.5.8.0"})"));
    send(tab, R"({"command":"SearchDevice","device":"ZelPlus","server":")" + cloud.host() +
                  R"(","userKey":")" + user_key + R"(","userSecret":")" + user_secret +
                  R"(","id_memberProduct":0})");
    ASSERT_TRUE(has_status(tab, R"({"Status":2})"));
    send(tab, R"({"command":"UpdateCourse","courseCode":"77"})");
    ASSERT_TRUE(has_status(tab, R"({"Status":4,"EjectNeeded":1})"))
        << browser->evaluate(tab, "statuses().join(' ')").asString();
    // Index 1 is the file's first slot.
    const std::string expected = course + before.substr(1808);
    EXPECT_TRUE(test::read_file(volume / "EMBEDD01.GLF") == expected);
}

TEST_F(Browser, SecondTabIsRefusedWhileTheFirstKeepsWorking) {
    const std::string first = browser->open_tab(page_url());
    ASSERT_TRUE(opened(first)) << settled(first);
    const std::string second = browser->open_tab(page_url());
    EXPECT_EQ(settled(second), "error,close 1006");
    EXPECT_TRUE(answers(first, R"({"command":"connect"})"));
}

TEST_F(Browser, ReloadedAndReopenedPagesConnectAtTheFirstTry) {
    std::string tab = browser->open_tab(page_url());
    ASSERT_TRUE(opened(tab)) << settled(tab);
    for (int reload = 2; reload <= 11; ++reload) {
        browser->reload(tab);
        ASSERT_TRUE(browser->wait_until(tab, "loads === " + std::to_string(reload)));
        EXPECT_EQ(settled(tab).substr(0, 4), "open") << "reload " << reload - 1;
        EXPECT_TRUE(answers(tab, R"({"command":"connect"})")) << "reload " << reload - 1;
    }
    // Chromium tears a closed tab down in the background and may send its socket's close
    // after the next tab has connected, when nothing yet tells the agent that the first page
    // is going; the next tab is opened once the agent has seen the first one leave, as a
    // member's next tab always is.
    const auto drops = [&] {
        const std::vector<std::string> messages = agent->log_messages();
        return std::count_if(messages.begin(), messages.end(),
                             [](const std::string& m) { return m.rfind("drop ", 0) == 0; });
    };
    for (int reopen = 0; reopen < 3; ++reopen) {
        const auto dropped = drops();
        browser->close_tab(tab);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (drops() == dropped && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        tab = browser->open_tab(page_url());
        EXPECT_EQ(settled(tab).substr(0, 4), "open") << "reopen " << reopen;
    }
    EXPECT_EQ(agent->log_count("on_fail get_local_close_reason: "), 0u);
}

TEST_F(Browser, PageFromAnotherSiteIsRefusedAndTheOpenPageKeepsWorking) {
    const std::string page = browser->open_tab(page_url("localhost"));
    ASSERT_TRUE(opened(page)) << settled(page);
    const std::string foreign = browser->open_tab(page_url("evil.example"));
    EXPECT_EQ(settled(foreign), "error,close 1006");
    EXPECT_TRUE(
        agent->log_mentions("Origin refused: http://evil.example:" + std::to_string(cloud.port())));
    EXPECT_TRUE(answers(page, R"({"command":"connect"})"));
}

}  // namespace
}  // namespace orvel
