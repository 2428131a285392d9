#include "devices/usbdisk/user_scores.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace orvel {
namespace {

Json::Value parsed(const std::string& text) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string problem;
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &problem))
        << problem << " in " << text;
    return value;
}

// Found by fuzzing the score files: a rating read as infinity made the request text
// unreadable for the service.
TEST(UserScoresText, EveryRatingAScoreFileCanHoldGoesUpAsReadableJson) {
    const float ratings[] = {71.5f, std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::quiet_NaN()};
    std::vector<user_score_record> rounds;
    for (float rating : ratings) {
        user_score_record round;
        round.course_rating = rating;
        round.course_name = "Links \xa2";  // a code-page byte of a unit's name
        round.score.resize(18);
        rounds.push_back(round);
    }
    const Json::Value sent = parsed(user_scores_text(rounds))["user_scores"]["user_score"];
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0]["course_rating"].asDouble(), 71.5);
    for (Json::ArrayIndex i = 1; i < 4; ++i) {
        EXPECT_TRUE(sent[i]["course_rating"].isNull()) << i;
    }
    EXPECT_EQ(sent[3]["score"].size(), 18u);
}

}  // namespace
}  // namespace orvel
