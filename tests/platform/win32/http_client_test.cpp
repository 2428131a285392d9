#include "platform/http_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace orvel::platform {
namespace {

using outcome = http_result::outcome;
using steady = std::chrono::steady_clock;

// The port of the test HTTP server that runs beside the test (tests/support/win32).
std::uint16_t server_port() {
    const char* port = std::getenv("ORVEL_TEST_HTTP_PORT");
    return port != nullptr ? static_cast<std::uint16_t>(std::atoi(port)) : 0;
}

outgoing_request request_to(const std::string& object, const std::string& verb = "GET") {
    outgoing_request call;
    call.host = "127.0.0.1";
    call.port = server_port();
    call.verb = verb;
    call.object = object;
    call.agent = "Orvel Sync App";
    return call;
}

class recorder : public http_exchange {
public:
    void on_head(const http_response_head& head) override {
        ++heads;
        this->head = head;
        head_came_first = body.empty();
    }
    void on_body(const void* bytes, std::size_t count) override {
        body.append(static_cast<const char*>(bytes), count);
        largest_piece = std::max(largest_piece, count);
    }
    bool stop_requested() override { return stop_once_body_came && !body.empty(); }

    int heads = 0;
    http_response_head head;
    bool head_came_first = false;
    std::string body;
    std::size_t largest_piece = 0;
    bool stop_once_body_came = false;
};

class WinInetClient : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(server_port(), 0) << "run beside the test server (win32_http_peer)";
    }
};

TEST_F(WinInetClient, FetchesTheObjectOnTheServersPortWithOneHeadBeforeTheBody) {
    recorder answer;
    const http_result result = http_send(request_to("hello"), answer);
    EXPECT_EQ(result.what, outcome::complete) << result.step << " " << result.error_text;
    EXPECT_EQ(answer.body, "hello from the loopback");
    EXPECT_EQ(answer.heads, 1);
    EXPECT_TRUE(answer.head_came_first);
    EXPECT_EQ(answer.head.status, 200u);
    EXPECT_TRUE(answer.head.has_length);
    EXPECT_EQ(answer.head.content_length, answer.body.size());
    EXPECT_EQ(answer.head.raw_headers.rfind("HTTP/1.1 200", 0), 0u) << answer.head.raw_headers;
}

TEST_F(WinInetClient, SendsTheVerbHeadersAndBodyAsGivenAndNothingUnasked) {
    outgoing_request call = request_to("echo", "POST");
    call.headers = "X-Orvel: 1\r\nAccept: application/json\r\n";
    const std::string payload = "{\"id_course\":\"123\"}\n";
    call.body = payload.data();
    call.length = static_cast<std::uint32_t>(payload.size());
    recorder answer;
    ASSERT_EQ(http_send(call, answer).what, outcome::complete);
    const std::string& echo = answer.body;
    EXPECT_EQ(echo.rfind("POST /echo HTTP/1.1\r\n", 0), 0u) << echo;
    EXPECT_NE(echo.find("X-Orvel: 1\r\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("User-Agent: Orvel Sync App\r\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("Content-Length: " + std::to_string(payload.size())), std::string::npos);
    // Neither labelled as a form nor given a cookie the caller did not send.
    EXPECT_EQ(echo.find("Content-Type"), std::string::npos) << echo;
    EXPECT_EQ(echo.find("Cookie"), std::string::npos) << echo;
    EXPECT_EQ(echo.substr(echo.size() - payload.size() - 4), "\r\n\r\n" + payload);
}

TEST_F(WinInetClient, ALargeUploadArrivesWhole) {
    std::string upload(300 * 1024, '\0');
    for (std::size_t i = 0; i < upload.size(); ++i) {
        upload[i] = static_cast<char>('a' + i % 26);
    }
    outgoing_request call = request_to("echo", "PUT");
    call.body = upload.data();
    call.length = static_cast<std::uint32_t>(upload.size());
    recorder answer;
    ASSERT_EQ(http_send(call, answer).what, outcome::complete);
    ASSERT_GT(answer.body.size(), upload.size());
    EXPECT_EQ(answer.body.rfind("PUT /echo HTTP/1.1\r\n", 0), 0u);
    EXPECT_TRUE(answer.body.substr(answer.body.size() - upload.size()) == upload);
}

TEST_F(WinInetClient, ALargeAnswerComesWholeInPiecesOfAtMost64KiB) {
    recorder answer;
    ASSERT_EQ(http_send(request_to("big"), answer).what, outcome::complete);
    ASSERT_EQ(answer.body.size(), 1u << 20);
    for (std::size_t i = 0; i < answer.body.size(); i += 4099) {
        ASSERT_EQ(static_cast<unsigned char>(answer.body[i]), i % 251) << "at " << i;
    }
    EXPECT_LE(answer.largest_piece, 65536u);
}

TEST_F(WinInetClient, AnotherStatusComesWithItsHeadAndBody) {
    recorder answer;
    ASSERT_EQ(http_send(request_to("server-error"), answer).what, outcome::complete);
    EXPECT_EQ(answer.head.status, 500u);
    EXPECT_EQ(answer.body, "broken");
    EXPECT_EQ(answer.head.raw_headers.rfind("HTTP/1.1 500", 0), 0u) << answer.head.raw_headers;

    recorder empty;
    ASSERT_EQ(http_send(request_to("empty-404"), empty).what, outcome::complete);
    EXPECT_EQ(empty.heads, 1);
    EXPECT_EQ(empty.head.status, 404u);
    EXPECT_TRUE(empty.head.has_length);
    EXPECT_EQ(empty.head.content_length, 0u);
    EXPECT_EQ(empty.body, "");
}

TEST_F(WinInetClient, AnAnswerCutShortOfItsLengthFails) {
    recorder answer;
    const http_result result = http_send(request_to("cut"), answer);
    EXPECT_EQ(result.what, outcome::failed);
    EXPECT_FALSE(result.step.empty());
    EXPECT_LT(answer.body.size(), 100u);
}

TEST_F(WinInetClient, AnAnswerWithoutLengthEndsWithTheConnection) {
    recorder answer;
    ASSERT_EQ(http_send(request_to("unsized"), answer).what, outcome::complete);
    EXPECT_FALSE(answer.head.has_length);
    EXPECT_EQ(answer.body, std::string(5000, 'u'));
}

TEST_F(WinInetClient, FollowsRedirects) {
    recorder answer;
    ASSERT_EQ(http_send(request_to("redirect"), answer).what, outcome::complete);
    EXPECT_EQ(answer.head.status, 200u);
    EXPECT_EQ(answer.body, "hello from the loopback");
}

TEST_F(WinInetClient, AnswersComeFromTheServerNeverFromACache) {
    recorder first;
    recorder second;
    ASSERT_EQ(http_send(request_to("count"), first).what, outcome::complete);
    ASSERT_EQ(http_send(request_to("count"), second).what, outcome::complete);
    EXPECT_EQ(first.body, "1");
    EXPECT_EQ(second.body, "2");
}

TEST_F(WinInetClient, ARefusedConnectionFailsWithTheClientsNumberAndText) {
    outgoing_request call = request_to("hello");
    call.port = 9;  // discard: nothing listens there
    recorder answer;
    const http_result result = http_send(call, answer);
    EXPECT_EQ(result.what, outcome::failed);
    EXPECT_EQ(result.step, "HttpSendRequestA");
    EXPECT_NE(result.error, 0u);
    EXPECT_FALSE(result.error_text.empty());
    EXPECT_EQ(answer.heads, 0);
}

TEST_F(WinInetClient, TheCallerStopsABodyThatStalls) {
    recorder answer;
    answer.stop_once_body_came = true;
    const auto started = steady::now();
    const http_result result = http_send(request_to("stall"), answer);
    EXPECT_EQ(result.what, outcome::stopped);
    // The server holds the rest back for 10 s.
    EXPECT_LT(steady::now() - started, std::chrono::seconds(3));
}

TEST_F(WinInetClient, ATransferThatStopsMovingFailsAfterTheStallLimit) {
    outgoing_request call = request_to("stall");
    call.stall_limit_ms = 500;
    recorder answer;
    const auto started = steady::now();
    const http_result result = http_send(call, answer);
    const auto took = steady::now() - started;
    EXPECT_EQ(result.what, outcome::failed);
    EXPECT_NE(result.error_text.find("No data moved for 500 ms"), std::string::npos)
        << result.error_text;
    EXPECT_GE(took, std::chrono::milliseconds(500));
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(WinInetClient, WhatTheCallerThrowsLeavesTheExchangeAndTheNextOneWorks) {
    class refusing : public recorder {
    public:
        void on_head(const http_response_head&) override { throw std::runtime_error("no"); }
    } refuser;
    EXPECT_THROW(http_send(request_to("big"), refuser), std::runtime_error);
    recorder answer;
    EXPECT_EQ(http_send(request_to("hello"), answer).what, outcome::complete);
}

}  // namespace
}  // namespace orvel::platform
