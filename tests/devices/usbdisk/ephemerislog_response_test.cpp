#include "devices/usbdisk/ephemerislog_response.h"

#include <gtest/gtest.h>

#include "devices/usbdisk/answer_refusal.h"

namespace orvel {
namespace {

TEST(EphemerislogResponse, BothMembersAreOptionalAndMustHaveTheirType) {
    ephemerislog_response answer;
    EXPECT_EQ(refusal(answer, R"(,"url":"http://files/e_ab12.alp","days":-7)"), "");
    EXPECT_EQ(answer.url, "http://files/e_ab12.alp");
    EXPECT_EQ(answer.days, -7);
    EXPECT_EQ(refusal(answer, ""), "");
    EXPECT_EQ(answer.url, "");
    EXPECT_EQ(answer.days, -1);

    const std::string number_url = "{" + envelope + R"(,"url":5})";
    EXPECT_EQ(refusal(answer, R"(,"url":5)"), "url must be a string in " + number_url);
    for (const char* days : {"2.5", "3.0", "\"3\"", "true", "2147483648", "null"}) {
        const std::string members = std::string(R"(,"days":)") + days;
        EXPECT_EQ(refusal(answer, members),
                  "days must be an integer in {" + envelope + members + "}")
            << days;
    }
}

}  // namespace
}  // namespace orvel
