#include "cloud/http_transport.h"

#include <gtest/gtest.h>

#include "base/failures.h"
#include "cloud/http_failure.h"
#include "cloud_test_util.h"
#include "sim/test_http_server.h"
#include "support/capture_logger.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

using test::http_reply;

class http_transport : public testing::Test {
protected:
    void get(const std::string& target, memory_stream& stream) {
        http_request(server.url(target), stream, nullptr, "GET", nullptr, 0, no_interrupt);
    }

    test::test_http_server server;
    empty_event no_interrupt;
    test::capture_logger logger;
};

TEST_F(http_transport, fetches_the_object_the_url_names_on_its_port) {
    server.reply("/a/b", http_reply::text(200, "course data"));
    memory_stream stream;
    get("/a/b", stream);
    EXPECT_EQ(stream.text(), "course data");

    const auto requests = server.requests_to("/a/b");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].header("User-Agent"), "Orvel Sync App");
    EXPECT_EQ(requests[0].header("Accept"), "*/*");
    EXPECT_FALSE(requests[0].has_header("Expect"));
}

TEST_F(http_transport, only_the_exact_scheme_https_makes_the_request_secure) {
    server.reply("/x", http_reply::text(200, "plain"));
    memory_stream stream;
    // The plain server waits for a request head that a TLS hello never completes; the
    // stall limit ends the wait.
    const test::stall_limit_guard limit(500);
    // TLS against a plain server cannot succeed; the scheme in other letter cases is plain.
    EXPECT_THROW(internet_request("https://" + server.host() + "/x", stream, nullptr, "GET",
                                  nullptr, 0, no_interrupt),
                 http_exception);
    EXPECT_EQ(server.count("/x"), 0u);

    internet_request("HTTPS://" + server.host() + "/x", stream, nullptr, "GET", nullptr, 0,
                     no_interrupt);
    EXPECT_EQ(stream.text(), "plain");
}

TEST_F(http_transport, sends_the_body_and_headers_as_given) {
    server.reply("/rest", http_reply::json("{}"));
    memory_stream stream;
    const std::string body = "{\"a\":1}\n";
    http_request(server.url("/rest"), stream, "Accept: application/json\r\nX-Test: 1\r\n", "POST",
                 body.data(), static_cast<std::uint32_t>(body.size()), no_interrupt);
    const auto requests = server.requests_to("/rest");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[0].header("Accept"), "application/json");
    EXPECT_EQ(requests[0].header("X-Test"), "1");
    // Not labelled as a form, nor as anything the caller did not say.
    EXPECT_FALSE(requests[0].has_header("Content-Type"));
}

TEST_F(http_transport, the_body_lands_at_the_stream_position) {
    server.reply("/b", http_reply::text(200, "XY"));
    memory_stream stream;
    test::write_text(stream, "abcdef");
    stream.seek(2);
    get("/b", stream);
    EXPECT_EQ(stream.text(), "abXYef");
}

// An empty "503" used to end the exchange as a success and replace a unit's file with
// nothing.
TEST_F(http_transport, an_empty_answer_is_whole_only_with_status_200) {
    server.reply("/empty", http_reply::text(503, ""));
    memory_stream stream;
    try {
        get("/empty", stream);
        FAIL() << "an empty 503 passed";
    } catch (const http_exception&) {
        FAIL() << "an answer is no transport failure";
    } catch (const intl_exception& failure) {
        EXPECT_EQ(failure.message(), "Download (empty) failed with response: ");
    }
    EXPECT_EQ(server.count("/empty"), 1u);
    EXPECT_TRUE(logger.contains("HTTP Status: 503"));
    EXPECT_TRUE(logger.mentions("URL: empty\nResponse headers: HTTP/1.1 503 Service Unavailable"))
        << testing::PrintToString(logger.messages());

    server.reply("/nothing", http_reply::text(200, ""));
    EXPECT_NO_THROW(get("/nothing", stream));
    EXPECT_EQ(stream.size(), 0u);
}

TEST_F(http_transport, another_status_fails_with_the_answer_text_and_is_not_retried) {
    server.reply("/files/gone.bin", http_reply::text(404, "no such file"));
    memory_stream stream;
    try {
        get("/files/gone.bin", stream);
        FAIL() << "no failure";
    } catch (const http_exception&) {
        FAIL() << "an answer is no transport failure";
    } catch (const intl_exception& failure) {
        EXPECT_EQ(failure.message(),
                  "Download (files/gone.bin) failed with response: no such file");
    }
    EXPECT_EQ(server.count("/files/gone.bin"), 1u);
    EXPECT_TRUE(logger.contains("HTTP Status: 404"));
}

TEST_F(http_transport, a_body_shorter_than_announced_is_retried_and_then_fails) {
    server.reply("/short", http_reply::cut_after(5, "0123456789"));
    memory_stream stream;
    try {
        get("/short", stream);
        FAIL() << "a truncated body passed as whole";
    } catch (const http_exception& failure) {
        EXPECT_EQ(failure.message().rfind("throw_if_false\r\ncurl_multi_perform\r\nURL: ", 0), 0u)
            << failure.message();
    }
    EXPECT_EQ(server.count("/short"), 4u);
    EXPECT_TRUE(logger.mentions("curl_multi_perform: 18. "));

    // The same when the server announces more than it has and closes.
    http_reply longer = http_reply::text(200, "0123456789");
    longer.content_length = 20;
    server.reply("/longer", longer);
    EXPECT_THROW(
        internet_request(server.url("/longer"), stream, nullptr, "GET", nullptr, 0, no_interrupt),
        http_exception);

    // And when a chunked body ends before its last, empty chunk.
    http_reply unfinished = http_reply::text(200, "4\r\nWiki\r\n6\r\npedia \r\n");
    unfinished.headers.emplace_back("Transfer-Encoding", "chunked");
    unfinished.send_length = false;
    server.reply("/unfinished", unfinished);
    EXPECT_THROW(internet_request(server.url("/unfinished"), stream, nullptr, "GET", nullptr, 0,
                                  no_interrupt),
                 http_exception);
}

TEST_F(http_transport, a_body_without_length_ends_with_the_connection) {
    http_reply reply = http_reply::text(200, "until close");
    reply.send_length = false;
    server.reply("/open", reply);
    memory_stream stream;
    get("/open", stream);
    EXPECT_EQ(stream.text(), "until close");
}

TEST_F(http_transport, three_failures_then_success_leave_the_body_from_the_first_position) {
    const std::string body = "the whole answer body";
    server.reply_sequence("/flaky", {http_reply::cut_after(3, body), http_reply::dropped(),
                                     http_reply::cut_after(12, body), http_reply::text(200, body)});
    memory_stream stream;
    test::write_text(stream, "head");
    get("/flaky", stream);
    EXPECT_EQ(stream.text(), "head" + body);
    EXPECT_EQ(server.count("/flaky"), 4u);
}

// A retry used to write over the failed try without cutting it: a shorter whole answer
// kept the failed try's tail behind it.
TEST_F(http_transport, each_try_starts_from_what_the_stream_held_before_the_first) {
    const std::string longer = "a first answer, cut after most of it";
    server.reply_sequence("/changed",
                          {http_reply::cut_after(30, longer), http_reply::text(200, "new")});
    memory_stream stream;
    test::write_text(stream, "head");
    get("/changed", stream);
    EXPECT_EQ(stream.text(), "headnew");
}

TEST_F(http_transport, a_refused_connection_is_a_transport_failure) {
    const std::string url = "http://127.0.0.1:" + std::to_string(test::closed_port()) + "/x";
    memory_stream stream;
    try {
        internet_request(url, stream, "X-A: 1\r\n", "POST", "data", 4, no_interrupt);
        FAIL() << "no failure";
    } catch (const http_exception& failure) {
        EXPECT_EQ(failure.message(), "throw_if_false\r\ncurl_multi_perform\r\nURL: " + url +
                                         "\r\nVerb: POST\r\nHeaders: X-A: 1\r\n\r\nData: data");
    }
    EXPECT_TRUE(logger.mentions("curl_multi_perform: 7. "));
}

TEST_F(http_transport, follows_redirects_like_the_system_client) {
    http_reply moved = http_reply::text(302, "");
    moved.headers.emplace_back("Location", "/real");
    server.reply("/alias", moved);
    server.reply("/real", http_reply::text(200, "here"));
    memory_stream stream;
    get("/alias", stream);
    EXPECT_EQ(stream.text(), "here");
}

TEST_F(http_transport, the_event_during_a_body_read_interrupts_within_a_second) {
    server.reply("/slow", http_reply::stalled_after(4, "0123456789"));
    event interrupt;
    memory_stream stream;
    const auto start = std::chrono::steady_clock::now();
    const test::delayed_set later(interrupt, std::chrono::milliseconds(200));
    try {
        http_request(server.url("/slow"), stream, nullptr, "GET", nullptr, 0, interrupt);
        FAIL() << "no interruption";
    } catch (const extl_exception& failure) {
        EXPECT_EQ(failure.code(), sync_error_code::interrupted);
    }
    EXPECT_LT(test::seconds_since(start), 1.0);
    EXPECT_EQ(stream.text(), "0123");
    EXPECT_EQ(server.count("/slow"), 1u);
}

TEST_F(http_transport, the_event_during_a_retry_delay_interrupts_instead_of_passing) {
    server.fail_first("/later", 1, http_reply::dropped(), http_reply::text(200, "late"));
    event interrupt;
    memory_stream stream;
    const auto start = std::chrono::steady_clock::now();
    const test::delayed_set later(interrupt, std::chrono::milliseconds(200));
    try {
        http_request(server.url("/later"), stream, nullptr, "GET", nullptr, 0, interrupt);
        FAIL() << "an interrupted request passed";
    } catch (const extl_exception& failure) {
        EXPECT_EQ(failure.code(), sync_error_code::interrupted);
    }
    // Well before the first 5 s delay would have ended.
    EXPECT_LT(test::seconds_since(start), 2.0);
    EXPECT_EQ(server.count("/later"), 1u);
}

TEST_F(http_transport, a_transfer_that_stops_moving_fails_after_the_stall_limit) {
    const test::stall_limit_guard limit(300);
    server.reply("/stuck", http_reply::stalled_after(4, "0123456789"));
    memory_stream stream;
    EXPECT_THROW(
        internet_request(server.url("/stuck"), stream, nullptr, "GET", nullptr, 0, no_interrupt),
        http_exception);
    EXPECT_TRUE(logger.mentions("curl_multi_perform: 28. No data moved for 300 ms"));
}

class file_transfer : public http_transport {
protected:
    test::temp_folder folder{"cloud"};
};

TEST_F(file_transfer, download_file_from_offset_zero_replaces_the_file) {
    const std::string path = folder / "course.bin";
    test::write_file(path, "an older and longer content");
    server.reply("/f", http_reply::text(200, "new"));
    download_file(server.url("/f"), path, 0, no_interrupt);
    EXPECT_EQ(test::read_file(path), "new");
    EXPECT_TRUE(logger.contains("download_file: from " + server.url("/f") + " to " + path));
}

TEST_F(file_transfer, download_file_writes_from_the_offset_of_a_shorter_file) {
    const std::string path = folder / "setup.bin";
    test::write_file(path, "abc");
    server.reply("/f", http_reply::text(200, "BODY"));
    download_file(server.url("/f"), path, 5, no_interrupt);
    EXPECT_EQ(test::read_file(path), std::string("abc\0\0BODY", 9));
}

TEST_F(file_transfer, download_file_with_an_offset_writes_over_the_middle_of_a_longer_file) {
    const std::string path = folder / "setup.bin";
    test::write_file(path, "HEAD-old content that was longer");
    server.reply("/f", http_reply::text(200, "new"));
    download_file(server.url("/f"), path, 5, no_interrupt);
    EXPECT_EQ(test::read_file(path), "HEAD-new content that was longer");
}

TEST_F(file_transfer, a_retry_with_an_offset_leaves_the_old_bytes_around_one_answer) {
    const std::string path = folder / "setup.bin";
    test::write_file(path, "HEAD-old content that was longer");
    server.reply_sequence("/f", {http_reply::cut_after(24, "a first answer, then cut off"),
                                 http_reply::text(200, "new")});
    download_file(server.url("/f"), path, 5, no_interrupt);
    EXPECT_EQ(test::read_file(path), "HEAD-new content that was longer");
}

TEST_F(file_transfer, a_refused_download_with_an_offset_names_the_answer_not_the_file) {
    const std::string path = folder / "setup.bin";
    test::write_file(path, "HEAD-\xff\xfe the unit's own bytes");
    server.reply("/f", http_reply::text(404, "gone"));
    try {
        download_file(server.url("/f"), path, 5, no_interrupt);
        FAIL() << "no failure";
    } catch (const intl_exception& failure) {
        EXPECT_EQ(failure.message(), "Download (f) failed with response: gone");
    }
}

TEST_F(file_transfer, download_file_of_a_missing_file_with_an_offset_creates_it) {
    const std::string path = folder / "fresh.bin";
    server.reply("/f", http_reply::text(200, "x"));
    download_file(server.url("/f"), path, 2, no_interrupt);
    EXPECT_EQ(test::read_file(path), std::string("\0\0x", 3));
}

TEST_F(file_transfer, download_file_carries_a_large_body_whole) {
    std::string content(8 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 7919) >> 3);
    }
    const std::string source = folder / "source.bin";
    test::write_file(source, content);
    server.serve_file("/big", source);
    const std::string path = folder / "big.bin";
    download_file(server.url("/big"), path, 0, no_interrupt);
    EXPECT_TRUE(test::read_file(path) == content);
}

// download_file trusts the system's store as the plain-socket download does, SSL_CERT_FILE
// included, and no certificate beyond it.
TEST_F(file_transfer, an_https_url_is_fetched_over_tls_with_the_system_store) {
    test::tls_cloud cloud;
    cloud.server.reply("/f", http_reply::text(200, "over TLS"));
    const std::string path = folder / "secure.bin";
    download_file(cloud.server.url("/f"), path, 0, no_interrupt);
    EXPECT_EQ(test::read_file(path), "over TLS");

    const test::test_authority stranger(folder.path(), "stranger");
    const test::scoped_env other_store("SSL_CERT_FILE", stranger.file());
    memory_stream stream;
    EXPECT_THROW(
        internet_request(cloud.server.url("/f"), stream, nullptr, "GET", nullptr, 0, no_interrupt),
        http_exception);
    EXPECT_TRUE(logger.mentions("curl_multi_perform: 60. "))
        << testing::PrintToString(logger.messages());
}

TEST_F(file_transfer, upload_file_puts_the_whole_file) {
    const std::string path = folder / "log.txt";
    test::write_file(path, "line 1\nline 2\n");
    server.accept_put("/upload/log", http_reply::text(200, "stored"));
    upload_file(server.url("/upload/log"), path, no_interrupt);
    EXPECT_EQ(server.put_body("/upload/log"), std::optional<std::string>("line 1\nline 2\n"));
    EXPECT_FALSE(server.requests_to("/upload/log").at(0).has_header("Content-Type"));
}

TEST_F(file_transfer, upload_file_of_an_empty_file_fails_reading_it) {
    const std::string path = folder / "empty.txt";
    test::write_file(path, "");
    server.accept_put("/upload/log");
    try {
        upload_file(server.url("/upload/log"), path, no_interrupt);
        FAIL() << "no failure";
    } catch (const intl_exception& failure) {
        EXPECT_EQ(failure.message().rfind("read failed", 0), 0u) << failure.message();
    }
    EXPECT_EQ(server.count("/upload/log"), 0u);
}

TEST(http_failure, texts_name_the_step_the_client_error_and_the_request) {
    const std::string url = "http://h/x";
    const std::string verb = "PUT";
    const request_arguments request{url, verb, "H: 1\r\n", "body", 4};
    try {
        throw_if_null(nullptr, "curl_easy_init", client_error{2, "Failed initialization"}, request);
        FAIL() << "no failure";
    } catch (const http_exception& failure) {
        EXPECT_EQ(failure.message(),
                  "throw_if_null\r\ncurl_easy_init\r\n\r\ncurl error 2\r\nFailed initialization"
                  "\r\nURL: http://h/x\r\nVerb: PUT\r\nHeaders: H: 1\r\n\r\nData: body");
    }
    const request_arguments bare{url, verb, nullptr, nullptr, 0};
    try {
        throw_if_false(false, "curl_multi_perform", bare);
        FAIL() << "no failure";
    } catch (const http_exception& failure) {
        EXPECT_EQ(failure.message(),
                  "throw_if_false\r\ncurl_multi_perform\r\nURL: http://h/x"
                  "\r\nVerb: PUT");
    }
    int handle = 0;
    EXPECT_NO_THROW(throw_if_null(&handle, "x", client_error{}, bare));
    EXPECT_NO_THROW(throw_if_false(true, "x", bare));
}

}  // namespace
}  // namespace orvel
