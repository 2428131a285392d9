// Round scores as the service and the unit exchange them: the records of the full-update
// answer's "user_scores", and the text the request sends up.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvel {

// The unit numbers its score files with two digits, KVSP00 to KVSP99.
inline constexpr unsigned max_score_records = 100;

struct round_time {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
};

struct hole_score {
    std::uint8_t score = 0;
    std::uint8_t putts = 0;
};

// One round; a complete one has 18 holes, hole 1 first.
struct user_score_record {
    round_time round_date;
    std::int32_t round_id = 0;
    std::vector<hole_score> score;
    std::string course_name;
    std::uint8_t slope_rating = 0;
    float course_rating = 0;
    std::uint16_t course_id = 0;
    std::uint8_t teebox = 0;
};

class USBDiskUserScores {
public:
    // Reads the answer's "user_scores"; false after logging why. No member is no scores;
    // more rounds than the unit has score files are refused, since they would be written
    // under names it never reads.
    bool fill(const Json::Value& answer);
    void reset() { records.clear(); }

    std::vector<user_score_record> records;
};

// Compact JSON and a line feed, as the service takes them; "{}" for no records.
std::string user_scores_text(const std::vector<user_score_record>& records);

}  // namespace orvel
