#include "cloud/sync_response.h"

#include <gtest/gtest.h>

#include "base/failures.h"
#include "platform/memory_stream.h"

namespace orvel {
namespace {

struct outcome {
    bool failed = false;
    sync_error_code code = sync_error_code::none;
    std::string message;
};

outcome parse_text(sync_response& response, const std::string& text) {
    memory_stream stream;
    stream.write(text.data(), static_cast<std::uint32_t>(text.size()));
    outcome result;
    try {
        response.parse(stream);
    } catch (const extl_exception& failure) {
        result.failed = true;
        result.code = failure.code();
        result.message = failure.message();
    }
    return result;
}

outcome parse_text(const std::string& text) {
    sync_response response;
    return parse_text(response, text);
}

std::string answer(int status, const std::string& details) {
    return "{\"Status\":" + std::to_string(status) +
           ",\"ErrorMessage\":\"Boom\",\"ErrorDetails\":" + details + "}";
}

TEST(sync_response, status_1_is_success_and_keeps_the_envelope) {
    sync_response response;
    const outcome plain = parse_text(response, R"({"Status":1,"ErrorMessage":""})");
    EXPECT_FALSE(plain.failed);
    EXPECT_EQ(response.status, 1);
    EXPECT_EQ(response.error_message, "");
    EXPECT_EQ(response.error_details, "");

    // Details come back compact, members sorted, with a line feed; comments are allowed.
    const outcome detailed = parse_text(response, R"(/* answer */ {"Status": 1,
        "ErrorMessage": "fine", // trailing note
        "ErrorDetails": {"b": 2, "a": [1, 2]}})");
    EXPECT_FALSE(detailed.failed);
    EXPECT_EQ(response.error_message, "fine");
    EXPECT_EQ(response.error_details, "{\"a\":[1,2],\"b\":2}\n");
}

TEST(sync_response, a_broken_envelope_is_a_bad_response_naming_the_text) {
    const std::string string_status = R"({"Status":"1","ErrorMessage":""})";
    const outcome wrong_status = parse_text(string_status);
    EXPECT_EQ(wrong_status.code, sync_error_code::bad_response);
    EXPECT_EQ(wrong_status.message, "Wrong Status or ErrorMessage type in " + string_status);

    const std::string number_message = R"({"Status":1,"ErrorMessage":5})";
    EXPECT_EQ(parse_text(number_message).message,
              "Wrong Status or ErrorMessage type in " + number_message);

    const std::string no_message = R"({"Status":1})";
    EXPECT_EQ(parse_text(no_message).message, "Status or ErrorMessage missing in " + no_message);

    const outcome empty = parse_text("");
    EXPECT_EQ(empty.code, sync_error_code::bad_response);
    EXPECT_EQ(empty.message, "Status or ErrorMessage missing in ");

    const outcome array = parse_text("[1]");
    EXPECT_EQ(array.code, sync_error_code::bad_response);
    EXPECT_EQ(array.message, "sync_response [1] should be an object");

    const outcome syntax = parse_text("{\"Status\":");
    EXPECT_EQ(syntax.code, sync_error_code::bad_response);
    EXPECT_EQ(syntax.message.rfind("sync_response parse failed: ", 0), 0u) << syntax.message;
    EXPECT_NE(syntax.message.find("Syntax error"), std::string::npos) << syntax.message;
    EXPECT_EQ(syntax.message.substr(syntax.message.size() - 12), ". {\"Status\":");
}

TEST(sync_response, service_statuses_map_to_their_codes) {
    const outcome s214 = parse_text(answer(214, R"({"name":"MemberProduct"})"));
    EXPECT_EQ(s214.code, sync_error_code::service_status_214);
    EXPECT_EQ(s214.message, "");

    const outcome s218 = parse_text(answer(218, "null"));
    EXPECT_EQ(s218.code, sync_error_code::service_status_218);
    EXPECT_EQ(s218.message, "");

    const outcome s503 = parse_text(answer(503, R"({"field":"serialNumber"})"));
    EXPECT_EQ(s503.code, sync_error_code::serial_number_rejected);
    EXPECT_EQ(s503.message, "");

    const outcome other503 = parse_text(answer(503, R"({"field":"userKey"})"));
    EXPECT_EQ(other503.code, sync_error_code::bad_response);
    EXPECT_EQ(other503.message, "Response: 503 Boom {\"field\":\"userKey\"}\n");

    const outcome unknown = parse_text(R"({"Status":7,"ErrorMessage":"Boom"})");
    EXPECT_EQ(unknown.code, sync_error_code::bad_response);
    EXPECT_EQ(unknown.message, "Response: 7 Boom ");
}

TEST(sync_response, status_501_tries_its_three_pairs_in_order) {
    // Spaces in the answer do not matter: the search runs over the compact form.
    const outcome member = parse_text(
        answer(501, R"({"name" : "MemberProduct", "propertyName" : "id_coursesyncindex"})"));
    EXPECT_EQ(member.code, sync_error_code::course_sync_index);
    EXPECT_EQ(member.message, "");

    const std::string hardware =
        R"({"name":"ProductHardwareUpdateType","propertyName":"id_lastsyncindextype"})";
    const outcome hardware_outcome = parse_text(answer(501, hardware));
    EXPECT_EQ(hardware_outcome.code, sync_error_code::sync_index_not_repaired);
    EXPECT_EQ(hardware_outcome.message, hardware + "\n");

    const std::string type = R"({"name":"CourseSyncIndexType","propertyName":"type"})";
    const outcome type_outcome = parse_text(answer(501, type));
    EXPECT_EQ(type_outcome.code, sync_error_code::sync_index_not_repaired);
    EXPECT_EQ(type_outcome.message, type + "\n");

    // The first pair wins over a later one in the same details.
    const outcome both = parse_text(answer(
        501, R"([{"name":"ProductHardwareUpdateType","propertyName":"id_lastsyncindextype"},)"
             R"({"name":"MemberProduct","propertyName":"id_coursesyncindex"}])"));
    EXPECT_EQ(both.code, sync_error_code::course_sync_index);
}

TEST(sync_response, status_501_needs_both_halves_of_a_pair) {
    const std::string half = R"({"name":"MemberProduct","propertyName":"type"})";
    const outcome mixed = parse_text(answer(501, half));
    EXPECT_EQ(mixed.code, sync_error_code::bad_response);
    EXPECT_EQ(mixed.message, "Response: 501 Boom " + half + "\n");

    const outcome lone = parse_text(answer(501, R"({"name":"MemberProduct"})"));
    EXPECT_EQ(lone.code, sync_error_code::bad_response);

    // The search is case-sensitive.
    const outcome lower =
        parse_text(answer(501, R"({"name":"memberproduct","propertyName":"id_coursesyncindex"})"));
    EXPECT_EQ(lower.code, sync_error_code::bad_response);
}

TEST(sync_response, every_parse_starts_from_the_empty_state) {
    sync_response response;
    parse_text(response, R"({"Status":1,"ErrorMessage":"x","ErrorDetails":{"a":1}})");
    ASSERT_EQ(response.status, 1);

    EXPECT_TRUE(parse_text(response, "[").failed);
    EXPECT_EQ(response.status, -1);
    EXPECT_EQ(response.error_message, "");
    EXPECT_EQ(response.error_details, "");
}

TEST(sync_response, reads_the_whole_stream_whatever_its_position) {
    memory_stream stream;
    const std::string text = R"({"Status":1,"ErrorMessage":"all"})";
    stream.write(text.data(), static_cast<std::uint32_t>(text.size()));
    stream.seek(5);
    sync_response response;
    response.parse(stream);
    EXPECT_EQ(response.error_message, "all");
}

}  // namespace
}  // namespace orvel
