#include "link/sync_command.h"

#include <gtest/gtest.h>

#include <rapidjson/error/en.h>

namespace orvel {
namespace {

// The message of the 1200 failure that parsing the text raises; "" when it parses.
std::string refusal(const std::string& text) {
    try {
        parse_command(text);
        return "";
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.code(), sync_error_code::invalid_command);
        return e.message();
    }
}

const std::string search_head =
    R"({"command":"SearchDevice","device":"Zel","server":"cloud.test","userKey":"uk","userSecret":"us")";

TEST(ParseCommand, RecognisesEveryCommandTextExactly) {
    EXPECT_EQ(parse_command(R"({"command":"connect"})").command, sync_command::connect);
    EXPECT_EQ(parse_command(R"({"command":"disconnect"})").command, sync_command::disconnect);
    EXPECT_EQ(parse_command(R"({"command":"RestoreDevice"})").command,
              sync_command::restore_device);
    EXPECT_EQ(parse_command(R"({"command":"EjectDevice","x":1})").command,
              sync_command::eject_device);
    EXPECT_EQ(refusal(R"({"command":"searchdevice"})"), "parse: wrong command value: searchdevice");
    EXPECT_EQ(refusal(R"({"command":"Connect"})"), "parse: wrong command value: Connect");
    EXPECT_EQ(refusal(R"({"command":"connect "})"), "parse: wrong command value: connect ");
}

TEST(ParseCommand, CommandKeyMustBePresentAndAString) {
    EXPECT_EQ(refusal(R"({"Command":"connect"})"), "field command is missing");
    EXPECT_EQ(refusal(R"({"command":7})"), "wrong type of field command");
    // A root that is not an object is refused without reading members.
    EXPECT_EQ(refusal(R"(["command","connect"])"), "field command is missing");
    EXPECT_EQ(refusal(R"("connect")"), "field command is missing");
    EXPECT_EQ(refusal("null"), "field command is missing");
}

TEST(ParseCommand, SyntaxErrorsNameTheParserCodeAndOffset) {
    EXPECT_EQ(refusal(R"({"command":"connect")"),
              "parse error: " +
                  std::to_string(rapidjson::kParseErrorObjectMissCommaOrCurlyBracket) + " (20)");
    EXPECT_EQ(refusal(""),
              "parse error: " + std::to_string(rapidjson::kParseErrorDocumentEmpty) + " (0)");
}

// Parsing recursed once per level: a text of nothing but "[" overflowed the stack.
TEST(ParseCommand, DeeplyNestedTextsAreRefusedLikeAnyOther) {
    EXPECT_EQ(refusal(std::string(1000000, '[')),
              "parse error: " + std::to_string(rapidjson::kParseErrorValueInvalid) + " (1000000)");
    EXPECT_EQ(refusal(std::string(1000000, '[') + std::string(1000000, ']')),
              "field command is missing");
}

TEST(ParseCommand, SearchDeviceReadsItsKeysInOrder) {
    const auto info = parse_command(search_head + R"(,"id_memberProduct":3,"serialNumber":"SN1"})");
    EXPECT_EQ(info.command, sync_command::search_device);
    EXPECT_EQ(info.device, "Zel");
    EXPECT_EQ(info.server, "cloud.test");
    EXPECT_EQ(info.userKey, "uk");
    EXPECT_EQ(info.userSecret, "us");
    EXPECT_EQ(info.id_memberProduct, 3u);
    EXPECT_EQ(info.serialNumber, "SN1");

    EXPECT_EQ(refusal(R"({"command":"SearchDevice","server":1})"), "field device is missing");
    EXPECT_EQ(refusal(R"({"command":"SearchDevice","device":"Zel","server":1})"),
              "wrong type of field server");
    EXPECT_EQ(refusal(R"({"command":"SearchDevice","device":"Zel","server":"s","userKey":"k"})"),
              "field userSecret is missing");
}

TEST(ParseCommand, MemberProductMustBeAnUnsigned32BitInteger) {
    EXPECT_EQ(refusal(search_head + R"(,"id_memberProduct":-1})"),
              "wrong type of field id_memberProduct");
    EXPECT_EQ(refusal(search_head + R"(,"id_memberProduct":3.0})"),
              "wrong type of field id_memberProduct");
    EXPECT_EQ(refusal(search_head + R"(,"id_memberProduct":4294967296})"),
              "wrong type of field id_memberProduct");
    EXPECT_EQ(refusal(search_head + R"(,"id_memberProduct":"3"})"),
              "wrong type of field id_memberProduct");
    EXPECT_EQ(refusal(search_head + "}"), "field id_memberProduct is missing");
    EXPECT_EQ(parse_command(search_head + R"(,"id_memberProduct":4294967295})").id_memberProduct,
              4294967295u);
}

TEST(ParseCommand, SerialNumberIsOptionalButMustBeAString) {
    EXPECT_EQ(parse_command(search_head + R"(,"id_memberProduct":3})").serialNumber, "");
    EXPECT_EQ(refusal(search_head + R"(,"id_memberProduct":3,"serialNumber":12})"),
              "wrong type of field serialNumber");
    // FullUpdate validates the credentials but has no serial number.
    const auto full = parse_command(R"({"command":"FullUpdate","device":"KM3","server":"s",)"
                                    R"("userKey":"k","userSecret":"u","id_memberProduct":9,)"
                                    R"("serialNumber":"ignored"})");
    EXPECT_EQ(full.command, sync_command::full_update);
    EXPECT_EQ(full.id_memberProduct, 9u);
    EXPECT_EQ(full.serialNumber, "");
}

TEST(ParseCommand, UpdateCourseReadsOnlyTheCourseCode) {
    const auto info =
        parse_command(R"({"command":"UpdateCourse","courseCode":"123","device":"Zel",)"
                      R"("server":"s","userKey":"k","userSecret":"u","id_memberProduct":4})");
    EXPECT_EQ(info.command, sync_command::update_course);
    EXPECT_EQ(info.courseCode, "123");
    EXPECT_EQ(info.device, "");
    EXPECT_EQ(info.server, "");
    EXPECT_EQ(info.id_memberProduct, 0u);
    EXPECT_EQ(refusal(R"({"command":"UpdateCourse"})"), "field courseCode is missing");
    EXPECT_EQ(refusal(R"({"command":"UpdateCourse","courseCode":123})"),
              "wrong type of field courseCode");
}

}  // namespace
}  // namespace orvel
