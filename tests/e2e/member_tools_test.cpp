// The member's scripts with the built agent on its ports: orvelsync-doctor finds it and the
// ports others hold, and what orvelsync-trust does lets headless Chromium open the agent.
#include <gtest/gtest.h>

#include <cstdlib>

#include "sim/test_http_server.h"
#include "support/agent_process.h"
#include "support/headless_browser.h"
#include "support/port_holder.h"
#include "support/tool_layout.h"

namespace orvel {
namespace {

TEST(Doctor, NamesTakenPortsTheirProgramAndTheFirstFreeOne) {
    test::port_holder taken({10001, 10002});
    test::tool_layout tools;
    const test::command_result report = tools.run("orvelsync-doctor");
    // Whatever else this machine lacks (the group, the service), the port lines hold.
    EXPECT_NE(report.output.find("ok       port 10003 is free for the agent"), std::string::npos)
        << report.output;
    EXPECT_NE(report.output.find("taken by other programs: 10001 (e2e_tests) 10002 (e2e_tests)"),
              std::string::npos)
        << report.output;
    EXPECT_NE(report.output.find("lacking  the browsers do not all trust"), std::string::npos)
        << report.output;
    EXPECT_EQ(report.status, 1);
}

TEST(Doctor, FindsTheAgentOnItsPortAndTheTrustedCertificate) {
    // The doctor looks for the agent where the page does.
    test::agent_options options;
    options.default_page_ports = true;
    test::agent_process agent(options);
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    ASSERT_NE(port, 0);
    test::tool_layout tools;
    ASSERT_EQ(tools.run("orvelsync-trust").status, 0);

    const test::command_result report = tools.run("orvelsync-doctor");
    EXPECT_NE(report.output.find("ok       the agent serves on port " + std::to_string(port)),
              std::string::npos)
        << report.output;
    EXPECT_NE(report.output.find("ok       the browsers trust the agent's certificate"),
              std::string::npos)
        << report.output;
}

// A page that opens the agent once, as the member's page does, without a word about
// certificates to the browser: only the store can make the connection succeed.
const char* const page_html = R"(<!doctype html>
<script>
const events = [];
const socket = new WebSocket('wss://localhost:' + new URLSearchParams(location.search).get('port') + '/');
socket.onopen = () => events.push('open');
socket.onerror = () => events.push('error');
</script>)";

// HOME for the browsers this test starts, which find their NSS store under it.
class home_for_children {
public:
    explicit home_for_children(const std::string& home) {
        if (const char* old = std::getenv("HOME")) {
            old_ = old;
        }
        ::setenv("HOME", home.c_str(), 1);
    }
    ~home_for_children() { ::setenv("HOME", old_.c_str(), 1); }
    home_for_children(const home_for_children&) = delete;
    home_for_children& operator=(const home_for_children&) = delete;

private:
    std::string old_;
};

TEST(BrowserTrust, ChromiumOpensTheAgentsSocketOnceTheCertificateIsTrusted) {
    test::tool_layout tools;
    test::agent_process agent;
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    ASSERT_NE(port, 0);
    // The certificate the agent serves: the build's, which may sign others.
    tools.use_certificate(agent.folder() + "localhost.cert");
    test::test_http_server server;
    test::http_reply page = test::http_reply::text(200, page_html);
    page.headers = {{"Content-Type", "text/html"}};
    server.reply("/page.html", page);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) +
                            "/page.html?port=" + std::to_string(port);
    home_for_children home(tools.home());

    const auto first_event = [&] {
        test::headless_browser browser;
        const std::string tab = browser.open_tab(url);
        if (!browser.wait_until(tab, "events.length > 0")) {
            return std::string("nothing");
        }
        return browser.evaluate(tab, "events[0]").asString();
    };
    EXPECT_EQ(first_event(), "error");
    ASSERT_EQ(tools.run("orvelsync-trust").status, 0);
    EXPECT_EQ(first_event(), "open");
}

}  // namespace
}  // namespace orvel
