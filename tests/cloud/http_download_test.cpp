#include "cloud/http_download.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <mutex>
#include <vector>

#include "base/failures.h"
#include "cloud_test_util.h"
#include "sim/test_http_server.h"
#include "support/capture_logger.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

using test::http_reply;

class http_download_test : public testing::Test {
protected:
    // The http_exception text of a download that must fail.
    std::string failure_of(const std::string& target) {
        try {
            http_download(server.url(target), path, no_interrupt);
        } catch (const http_exception& failure) {
            return failure.message();
        }
        ADD_FAILURE() << "no failure for " << target;
        return std::string();
    }

    test::test_http_server server;
    test::temp_folder folder{"download"};
    const std::string path = folder / "package.tar";
    empty_event no_interrupt;
    test::capture_logger logger;
};

TEST_F(http_download_test, sends_its_request_text_to_the_urls_port_and_writes_the_body) {
    std::string body(300 * 1024, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>(i * 31 + (i >> 9));
    }
    server.reply("/files/pkg.tar", http_reply::text(200, body));
    test::write_file(path, body + "an older, longer package");

    http_download(server.url("/files/pkg.tar"), path, no_interrupt);
    EXPECT_TRUE(test::read_file(path) == body);
    const auto requests = server.requests_to("/files/pkg.tar");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw_head,
              "GET /files/pkg.tar HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
              "Connection: close\r\n\r\n");

    // Without a length the body runs to the end of the connection.
    http_reply open_ended = http_reply::text(200, "until the end");
    open_ended.send_length = false;
    server.reply("/open", open_ended);
    http_download(server.url("/open"), path, no_interrupt);
    EXPECT_EQ(test::read_file(path), "until the end");
}

TEST_F(http_download_test, an_error_page_is_a_failure_and_never_becomes_the_file) {
    server.reply("/gone.tar", http_reply::text(404, "<html>not here</html>"));
    EXPECT_EQ(failure_of("/gone.tar"),
              "_http_download_: HTTP status 404 Not Found (" + server.url("/gone.tar") + ")");
    EXPECT_FALSE(boost::filesystem::exists(path));

    server.reply("/broken.tar", http_reply::text(500, "oops"));
    EXPECT_NE(failure_of("/broken.tar").find("HTTP status 500"), std::string::npos);
    EXPECT_FALSE(boost::filesystem::exists(path));

    server.reply("/busy.tar", http_reply::text(503, ""));
    EXPECT_NE(failure_of("/busy.tar").find("HTTP status 503"), std::string::npos);
    EXPECT_FALSE(boost::filesystem::exists(path));
}

TEST_F(http_download_test, a_short_or_stalled_body_is_a_failure) {
    server.reply("/cut.tar", http_reply::cut_after(5, "0123456789"));
    EXPECT_EQ(failure_of("/cut.tar"),
              "_http_download_: body ended after 5 of 10 bytes (" + server.url("/cut.tar") + ")");

    const test::stall_limit_guard limit(300);
    server.reply("/stuck.tar", http_reply::stalled_after(4, "0123456789"));
    const std::string stalled = failure_of("/stuck.tar");
    EXPECT_EQ(stalled.rfind("_http_download_: ", 0), 0u) << stalled;
    EXPECT_NE(stalled.find("asio::read: "), std::string::npos) << stalled;
}

// The scheme was ignored: a package URL that said https went out in clear.
TEST_F(http_download_test, an_https_url_is_fetched_over_tls_from_a_server_the_store_vouches_for) {
    test::tls_cloud cloud;
    std::string body(200 * 1024, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>(i * 13 + (i >> 11));
    }
    cloud.server.reply("/pkg.tar", http_reply::text(200, body));
    http_download(cloud.server.url("/pkg.tar"), path, no_interrupt);
    EXPECT_TRUE(test::read_file(path) == body);
    http_reply open_ended = http_reply::text(200, "until TLS ends");
    open_ended.send_length = false;
    cloud.server.reply("/open.tar", open_ended);
    http_download(cloud.server.url("/open.tar"), path, no_interrupt);
    EXPECT_EQ(test::read_file(path), "until TLS ends");

    // A certificate from an authority the store does not hold, and ones from the trusted
    // authority for another name or address.
    const test::test_authority stranger(folder.path(), "stranger");
    test::test_http_server unknown(stranger.issue("127.0.0.1"));
    test::test_http_server named(cloud.authority.issue("localhost"));
    const std::string by_name = "https://localhost:" + std::to_string(named.port());
    const std::string address_by_name = "https://localhost:" + std::to_string(cloud.server.port());
    const std::pair<std::string, std::string> refusals[] = {
        {unknown.url(""), "127.0.0.1 does not verify: unable to get local issuer certificate"},
        {named.url(""), "127.0.0.1 does not verify: IP address mismatch"},
        {address_by_name, "localhost does not verify: hostname mismatch"}};
    unknown.reply("/pkg.tar", http_reply::text(200, body));
    named.reply("/pkg.tar", http_reply::text(200, body));
    for (const auto& [root, reason] : refusals) {
        try {
            http_download(root + "/pkg.tar", path, no_interrupt);
            FAIL() << "no failure for " << reason;
        } catch (const http_exception& failure) {
            EXPECT_EQ(failure.message(), "_http_download_: The certificate of " + reason);
        }
    }
    EXPECT_EQ(unknown.count("/pkg.tar") + named.count("/pkg.tar"), 0u);
    // By the name it carries, the same certificate is good.
    http_download(by_name + "/pkg.tar", path, no_interrupt);
    EXPECT_TRUE(test::read_file(path) == body);
}

TEST_F(http_download_test, a_refused_connection_fails_as_the_write_that_follows) {
    const std::string url = "http://127.0.0.1:" + std::to_string(test::closed_port()) + "/x.tar";
    try {
        http_download(url, path, no_interrupt);
        FAIL() << "no failure";
    } catch (const http_exception& failure) {
        EXPECT_EQ(failure.message().rfind("_http_download_: ", 0), 0u) << failure.message();
        EXPECT_NE(failure.message().find("write: "), std::string::npos) << failure.message();
    }
    EXPECT_TRUE(logger.mentions("connect: ")) << testing::PrintToString(logger.messages());
}

TEST_F(http_download_test, a_chunked_body_is_written_without_its_framing) {
    http_reply chunked =
        http_reply::text(200,
                         "4;name=value\r\nWiki\r\n6\r\npedia \r\nE\r\nin \r\n\r\nchunks.\r\n0\r\n"
                         "X-Trailer: 1\r\n\r\n");
    chunked.headers.emplace_back("Transfer-Encoding", "chunked");
    chunked.send_length = false;
    server.reply("/chunked.tar", chunked);
    http_download(server.url("/chunked.tar"), path, no_interrupt);
    EXPECT_EQ(test::read_file(path), "Wikipedia in \r\n\r\nchunks.");

    // The connection ending before the last, empty chunk leaves the body incomplete.
    http_reply unfinished = http_reply::text(200, "4\r\nWiki\r\n6\r\npedia \r\n");
    unfinished.headers.emplace_back("Transfer-Encoding", "chunked");
    unfinished.send_length = false;
    server.reply("/unfinished.tar", unfinished);
    EXPECT_NE(failure_of("/unfinished.tar").find("body ended inside its chunks after 10 bytes"),
              std::string::npos);
}

TEST_F(http_download_test, retries_remove_the_file_before_each_new_attempt) {
    const std::string body = "the whole package";
    // Each answer is chosen when the request arrives, after noting whether the file is there.
    std::mutex mutex;
    std::vector<bool> file_there;
    const std::vector<http_reply> answers = {
        http_reply::cut_after(5, body), http_reply::text(404, "not yet"),
        http_reply::cut_after(9, body), http_reply::text(200, body)};
    server.handle("/pkg.tar", [&](const test::recorded_request&) {
        std::lock_guard<std::mutex> lock(mutex);
        file_there.push_back(boost::filesystem::exists(path));
        return answers.at(std::min(file_there.size(), answers.size()) - 1);
    });
    test::write_file(path, "left from an earlier run");

    http_download_with_retry(server.url("/pkg.tar"), path, no_interrupt);
    EXPECT_EQ(test::read_file(path), body);
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(file_there, (std::vector<bool>{true, false, false, false}));
    }

    // Four error pages: the last failure reaches the caller and no file is left.
    server.reply("/missing.tar", http_reply::text(404, "missing"));
    try {
        http_download_with_retry(server.url("/missing.tar"), path, no_interrupt);
        FAIL() << "no failure";
    } catch (const http_exception& failure) {
        EXPECT_NE(failure.message().find("HTTP status 404"), std::string::npos);
    }
    EXPECT_EQ(server.count("/missing.tar"), 4u);
    EXPECT_FALSE(boost::filesystem::exists(path));
}

TEST_F(http_download_test, the_event_stops_the_download_and_the_retry_reports_it) {
    server.reply("/slow.tar", http_reply::stalled_after(4, "0123456789"));
    event interrupt;
    const auto start = std::chrono::steady_clock::now();
    const test::delayed_set later(interrupt, std::chrono::milliseconds(200));
    try {
        http_download_with_retry(server.url("/slow.tar"), path, interrupt);
        FAIL() << "no interruption";
    } catch (const extl_exception& failure) {
        EXPECT_EQ(failure.code(), sync_error_code::interrupted);
    }
    EXPECT_LT(test::seconds_since(start), 1.0);
    EXPECT_EQ(server.count("/slow.tar"), 1u);

    // Stopped while waiting to retry: no file, so no success either.
    event stop;
    server.reply("/dropped.tar", http_reply::dropped());
    const auto again = std::chrono::steady_clock::now();
    const test::delayed_set during_delay(stop, std::chrono::milliseconds(200));
    try {
        http_download_with_retry(server.url("/dropped.tar"), path, stop);
        FAIL() << "an interrupted download passed";
    } catch (const extl_exception& failure) {
        EXPECT_EQ(failure.code(), sync_error_code::interrupted);
    }
    EXPECT_LT(test::seconds_since(again), 2.0);
    EXPECT_EQ(server.count("/dropped.tar"), 1u);
    EXPECT_FALSE(boost::filesystem::exists(path));
}

}  // namespace
}  // namespace orvel
