#include "devices/usbdisk/full_update_response.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/failures.h"
#include "devices/usbdisk/answer_refusal.h"
#include "platform/memory_stream.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

std::string hole_list(unsigned count) {
    std::string holes;
    for (unsigned i = 0; i < count; ++i) {
        holes += std::string(i ? "," : "") + R"({"score":)" + std::to_string(260 + i) +
                 R"(,"putts":true})";
    }
    return "[" + holes + "]";
}

std::string repeated(const std::string& text, unsigned count) {
    std::string result;
    for (unsigned i = 0; i < count; ++i) {
        result += text;
    }
    return result;
}

std::string score_member(const std::string& round_fields) {
    return R"(,"urls":[],"files":[],"version":1,"user_scores":{"user_score":[{)" + round_fields +
           "}]}";
}

const std::string good_round =
    R"("round_date":"2024-5-6 7:8:9","round_id":-3,"course_name":"Links","slope_rating":513,)"
    R"("course_rating":true,"course_id":65537,"teebox":2,"score":)" +
    hole_list(18);

TEST(USBDiskRestoreResponse, EachBrokenFileListFailsWithItsOwnText) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"(,"urls":[],"version":1)", "urls and files must be present in "},
        {R"(,"urls":[],"files":[])", "version must be present in "},
        {R"(,"urls":{},"files":[],"version":1)", "urls and files must be arrays in "},
        {R"(,"urls":["a"],"files":[],"version":1)", "urls and files must be the same size in "},
        {R"(,"urls":["a","b"],"files":["A",2],"version":1)",
         "urls and files should contain strings (idx: 1) in "},
        {R"(,"urls":[],"files":[],"version":1.5)", "version must be integral in "},
        {R"(,"urls":[],"files":[],"version":1,"setupType":3)", "setupType must be string in "},
    };
    for (const auto& [members, text] : cases) {
        USBDiskRestoreResponse response;
        EXPECT_EQ(refusal(response, members), text + "{" + envelope + members + "}");
    }

    USBDiskRestoreResponse response;
    EXPECT_EQ(refusal(response, R"(,"urls":null,"files":null,"version":true,"setupType":"x")"), "");
    EXPECT_TRUE(response.urls.empty());
    EXPECT_EQ(response.version, 1);
    EXPECT_EQ(response.setupType, "x");
    EXPECT_EQ(refusal(response, R"(,"urls":["u"],"files":["F"],"version":-7)"), "");
    EXPECT_EQ(response.files, std::vector<std::string>{"F"});
    EXPECT_EQ(response.setupType, "");  // reset by the new answer
    EXPECT_EQ(response.version, -7);
}

TEST(USBDiskFullUpdateResponse, ScoresKeepTheirLowBitsAndBrokenRoundsAreLogged) {
    USBDiskFullUpdateResponse response;
    ASSERT_EQ(refusal(response, score_member(good_round)), "");
    ASSERT_EQ(response.user_scores.records.size(), 1u);
    const user_score_record& round = response.user_scores.records[0];
    EXPECT_EQ(round.round_date.month, 5);
    EXPECT_EQ(round.round_date.second, 9);
    EXPECT_EQ(round.round_id, -3);
    EXPECT_EQ(round.slope_rating, 1);  // 513
    EXPECT_EQ(round.course_id, 1);     // 65537
    EXPECT_EQ(round.course_rating, 1.0f);
    EXPECT_EQ(round.score[17].score, 21);  // 277
    EXPECT_EQ(round.score[17].putts, 1);

    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"(,"urls":[],"files":[],"version":1,"user_scores":[])",
         "user_scores must be an object and have field user_score\r\n"},
        {R"(,"urls":[],"files":[],"version":1,"user_scores":{"user_score":{}})",
         "user_score must be an array\r\n"},
        {score_member(good_round + R"(,"round_id":1.5)"), "wrong user_score's field type\r\n"},
        {score_member(R"("round_date":"2024-05-06",)" +
                      good_round.substr(good_round.find(',') + 1)),
         "date parsing failed\r\n"},
        {score_member(good_round.substr(0, good_round.rfind("[")) + hole_list(17)),
         "score size is 17, expecting 18\r\n"},
        {score_member(good_round.substr(0, good_round.rfind("[")) + "[1" + repeated(",1", 17) +
                      "]"),
         "score or putts must be integral\r\n"},
        {R"(,"urls":[],"files":[],"version":1,"articles":[])", "articles must be an object\r\n"},
        {R"(,"urls":[],"files":[],"version":1,"articles":{})", "articles can't be empty\r\n"},
        {R"(,"urls":[],"files":[],"version":1,"articles":{"a":{}})",
         "category must be an array\r\n"},
        {R"(,"urls":[],"files":[],"version":1,"articles":{"a":[{"title":"t"}]})",
         "wrong article's field type\r\n"},
        {R"(,"urls":[],"files":[],"version":1,"articles":{"a":[{"title":"t","subtitle":"s",)"
         R"("content":"c","author":"a","rating":1,"date":"2020"}]})",
         "date parsing failed\r\n"},
    };
    for (const auto& [members, logged] : cases) {
        test::capture_logger logger;
        EXPECT_EQ(refusal(response, members),
                  "user scores fill failed for {" + envelope + members + "}");
        EXPECT_TRUE(logger.contains(logged)) << logged;
    }
}

}  // namespace
}  // namespace orvel
