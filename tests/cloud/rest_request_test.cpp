#include "cloud/rest_request.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "base/failures.h"
#include "cloud_test_util.h"
#include "platform/crypto.h"
#include "platform/memory_stream.h"
#include "sim/test_http_server.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

using test::http_reply;

// 2026-03-05 07:08:09 UTC.
constexpr std::time_t march_2026 = 1772694489;

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

std::string hex(const std::string& bytes) {
    return hex(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::string string_to_sign(const std::string& action, const std::string& user_key,
                           const std::string& timestamp) {
    return action + application_key + "/" + user_key + "/1.0/2.0/HmacSHA256/" + timestamp + "/JSON";
}

TEST(rest_text_forms, timestamps_and_bodies) {
    EXPECT_EQ(utc_timestamp(march_2026), "260305070809+0000");
    EXPECT_EQ(utc_date_text(march_2026), "2026-03-05 07:08:09");
    // 2009-01-02 03:04:05 UTC: every field keeps its leading zero.
    EXPECT_EQ(utc_timestamp(1230865445), "090102030405+0000");

    Json::Value body;
    body["zeta"] = 1;
    body["alpha"]["b"] = true;
    body["alpha"]["a"] = "x y";
    body["Beta"] = Json::Value(Json::arrayValue);
    EXPECT_EQ(request_body_text(body),
              "{\"Beta\":[],\"alpha\":{\"a\":\"x y\",\"b\":true},\"zeta\":1}\n");
}

// RFC 4231 test cases 2 and 6, the latter with a key longer than SHA-256's block. The
// test server's own HMAC must agree too, or its signature check proves nothing.
TEST(hmac_sha256, matches_the_rfc_4231_vectors) {
    const std::string case6_key(131, '\xaa');
    const std::string case6_data = "Test Using Larger Than Block-Size Key - Hash Key First";
    const std::string case2 = "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843";
    const std::string case6 = "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54";

    std::vector<std::uint8_t> mac;
    ASSERT_TRUE(platform::hmac_sha256("Jefe", "what do ya want for nothing?", mac));
    EXPECT_EQ(hex(mac), case2);
    ASSERT_TRUE(platform::hmac_sha256(case6_key, case6_data, mac));
    EXPECT_EQ(hex(mac), case6);

    EXPECT_EQ(hex(test::reference_hmac_sha256("Jefe", "what do ya want for nothing?")), case2);
    EXPECT_EQ(hex(test::reference_hmac_sha256(case6_key, case6_data)), case6);
}

class signing : public testing::Test {
protected:
    memory_stream response;
    connection_settings settings{"", "member-7", "s3cret", "SN1", 77};
    request_context context{response, settings};
    test::capture_logger logger;
};

TEST_F(signing, the_signature_is_url_safe_base64_of_the_mac) {
    const std::string timestamp = "260305070809+0000";
    const std::string action = "DeviceCourseDataDetails/";
    const std::string signature = sign_request(context, action, timestamp);

    const std::string to_sign = string_to_sign(action, "member-7", timestamp);
    EXPECT_TRUE(logger.contains("String to sign: " + to_sign));
    // Standard Base64 of this MAC holds "+" and "/" and ends in "=" (computed apart from
    // this code base): zx1htdH1w+AfJDEPYC0o8/yZEbCoKnhbd5lfjeCJdEU=
    EXPECT_EQ(signature, "zx1htdH1w-AfJDEPYC0o8_yZEbCoKnhbd5lfjeCJdEU");
    EXPECT_EQ(signature,
              test::reference_signature(std::string(application_secret) + "s3cret", to_sign));
    EXPECT_EQ(signature.size(), 43u);
    EXPECT_EQ(signature.find_first_of("+/="), std::string::npos);
}

TEST_F(signing, an_empty_user_secret_leaves_the_application_secret_as_the_key) {
    settings.userSecret = "";
    const std::string timestamp = "260305070809+0000";
    const std::string signature = sign_request(context, "CourseSyncIndexRestore/", timestamp);
    const std::string to_sign = string_to_sign("CourseSyncIndexRestore/", "member-7", timestamp);
    EXPECT_EQ(signature, test::reference_signature(application_secret, to_sign));
    EXPECT_NE(signature,
              test::reference_signature(std::string(application_secret) + "s3cret", to_sign));
}

class rest_exchange : public signing {
protected:
    rest_exchange() { settings.server = server.host(); }

    test::test_http_server server;
};

TEST_F(rest_exchange, posts_the_signed_path_and_body_that_the_service_accepts) {
    server.add_user("member-7", "s3cret");
    const std::string answer = R"({"Status":1,"ErrorMessage":""})";
    // The first attempt is dropped: a REST call tries again at once, with the same request.
    std::atomic<int> calls{0};
    server.handle_rest("DeviceCourseDataDetails", [&](const test::recorded_request&) {
        return ++calls == 1 ? http_reply::dropped() : http_reply::json(answer);
    });
    test::write_text(response, "the previous answer, longer than this one");

    Json::Value body;
    body["id_course"] = "123";
    const std::string before = utc_timestamp();
    const auto start = std::chrono::steady_clock::now();
    rest_post(context, "DeviceCourseDataDetails/", body);
    const std::string after = utc_timestamp();
    EXPECT_LT(test::seconds_since(start), 4.0);  // no 5 s retry delay
    EXPECT_EQ(response.text(), answer);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const test::recorded_request& request : requests) {
        EXPECT_EQ(request.verdict, test::signature_verdict::valid)
            << request.signature << " expected " << request.expected_signature;
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.body, "{\"id_course\":\"123\",\"id_relationship\":77}\n");
        EXPECT_EQ(request.header("Accept"), "application/json");
        EXPECT_EQ(request.header("Content-Type"), "application/json");
    }
    const test::recorded_request& sent = requests.back();
    EXPECT_EQ(requests.front().target, sent.target);
    // The timestamp is the time of sending, in a form that sorts like the time.
    EXPECT_GE(sent.timestamp, before);
    EXPECT_LE(sent.timestamp, after);
    const std::string path =
        "/rest/action/DeviceCourseDataDetails/Kq7Rt2WmZx9LpVa/member-7/"
        "1.0/2.0/HmacSHA256/" +
        sent.signature + "/" + sent.timestamp + "/JSON";
    EXPECT_EQ(sent.target, path);
    EXPECT_TRUE(logger.contains("Request: " + path));
    EXPECT_TRUE(logger.contains("String to sign: " + string_to_sign("DeviceCourseDataDetails/",
                                                                    "member-7", sent.timestamp)));
}

TEST_F(rest_exchange, a_signature_the_service_rejects_fails_with_its_answer) {
    // The service knows another secret for this member: both sides sign, and disagree.
    server.add_user("member-7", "other");
    server.reply_rest("MemberLogUploadURL", http_reply::json(R"({"Status":1})"));
    try {
        rest_post(context, "MemberLogUploadURL/", Json::Value(Json::objectValue));
        FAIL() << "a wrongly signed request passed";
    } catch (const http_exception&) {
        FAIL() << "a refusal is no transport failure";
    } catch (const intl_exception& failure) {
        EXPECT_EQ(failure.message().rfind("Download (rest/action/MemberLogUploadURL/", 0), 0u)
            << failure.message();
        EXPECT_NE(failure.message().find("Invalid signature"), std::string::npos);
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].verdict, test::signature_verdict::invalid);
    EXPECT_EQ(requests[0].body, "{\"id_relationship\":77}\n");
}

// A server given as "https://..." used to become "http://https://...".
TEST_F(rest_exchange, a_server_given_as_a_url_is_asked_at_it_a_bare_host_in_plain_http) {
    test::tls_cloud cloud;
    for (test::test_http_server* service : {&cloud.server, &server}) {
        service->add_user("member-7", "s3cret");
        service->reply_rest("MemberLogUploadURL", http_reply::json(R"({"Status":1})"));
    }
    for (const std::string& given : {cloud.server.url("/"), server.url(""), server.host()}) {
        settings.server = given;
        rest_post(context, "MemberLogUploadURL/", Json::Value(Json::objectValue));
        EXPECT_EQ(response.text(), R"({"Status":1})") << given;
    }
    ASSERT_EQ(cloud.server.requests().size(), 1u);
    EXPECT_EQ(cloud.server.requests()[0].verdict, test::signature_verdict::valid);
    EXPECT_EQ(server.requests().size(), 2u);
}

// Nothing bounded an answer: a service could make the agent hold any amount in memory.
TEST_F(rest_exchange, an_answer_over_16_mib_is_refused_without_a_retry) {
    server.add_user("member-7", "s3cret");
    const std::string largest(max_rest_answer, ' ');
    server.reply_rest("DeviceFullDataDetails", http_reply::json(largest + " "));
    try {
        rest_post(context, "DeviceFullDataDetails/", Json::Value(Json::objectValue));
        FAIL() << "a 16 MiB + 1 answer was taken";
    } catch (const http_exception&) {
        FAIL() << "a refusal is no transport failure";
    } catch (const intl_exception& failure) {
        EXPECT_EQ(failure.message().rfind("Answer refused: 16777217 bytes announced", 0), 0u)
            << failure.message();
    }
    EXPECT_EQ(response.size(), 0u);
    EXPECT_TRUE(logger.mentions("Answer refused: 16777217 bytes announced, at most 16777216"));
    EXPECT_EQ(server.count("/rest/action/DeviceFullDataDetails/"), 1u);

    // Without a length it goes as soon as it grows past the bound.
    http_reply unannounced = http_reply::json(largest + " ");
    unannounced.send_length = false;
    server.reply_rest("DeviceFullDataDetails", unannounced);
    EXPECT_THROW(rest_post(context, "DeviceFullDataDetails/", Json::Value(Json::objectValue)),
                 intl_exception);
    EXPECT_TRUE(logger.mentions("Answer refused: more than 16777216 bytes"));

    server.reply_rest("DeviceFullDataDetails", http_reply::json(largest));
    rest_post(context, "DeviceFullDataDetails/", Json::Value(Json::objectValue));
    EXPECT_EQ(response.size(), max_rest_answer);
}

}  // namespace
}  // namespace orvel
