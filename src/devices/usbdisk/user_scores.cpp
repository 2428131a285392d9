#include "devices/usbdisk/user_scores.h"

#include <cmath>
#include <cstdio>

#include "base/format.h"
#include "base/log_hub.h"
#include "cloud/json_text.h"
#include "devices/usbdisk/answer_values.h"

namespace orvel {

namespace {

constexpr unsigned holes_per_round = 18;

bool refuse(const char* text) {
    log(3, "%s", text);
    return false;
}

bool has_round_fields(const Json::Value& round) {
    return round.isObject() && round["round_date"].isString() &&
           is_integral_value(round["round_id"]) &&
           (round["score"].isNull() || round["score"].isArray()) &&
           round["course_name"].isString() && is_integral_value(round["slope_rating"]) &&
           is_numeric_value(round["course_rating"]) && is_integral_value(round["course_id"]) &&
           is_integral_value(round["teebox"]);
}

bool scan_round_date(const std::string& text, round_time& date) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char separator = 0;
    if (std::sscanf(text.c_str(), "%d %c %d %c %d %d %c %d %c %d", &year, &separator, &month,
                    &separator, &day, &hour, &separator, &minute, &separator, &second) < 10) {
        return false;
    }
    date = {static_cast<std::uint16_t>(year),   static_cast<std::uint16_t>(month),
            static_cast<std::uint16_t>(day),    static_cast<std::uint16_t>(hour),
            static_cast<std::uint16_t>(minute), static_cast<std::uint16_t>(second)};
    return true;
}

bool fill_holes(const Json::Value& holes, std::vector<hole_score>& score) {
    if (holes.size() != holes_per_round) {
        log(3, "score size is %u, expecting 18\r\n", holes.size());
        return false;
    }
    score.clear();
    for (const Json::Value& hole : holes) {
        if (!hole.isObject() || !is_integral_value(hole["score"]) ||
            !is_integral_value(hole["putts"])) {
            return refuse("score or putts must be integral\r\n");
        }
        score.push_back({static_cast<std::uint8_t>(low_bits(hole["score"])),
                         static_cast<std::uint8_t>(low_bits(hole["putts"]))});
    }
    return true;
}

bool fill_round(const Json::Value& round, user_score_record& record) {
    if (!has_round_fields(round)) {
        return refuse("wrong user_score's field type\r\n");
    }
    if (!scan_round_date(round["round_date"].asString(), record.round_date)) {
        return refuse("date parsing failed\r\n");
    }
    if (!fill_holes(round["score"], record.score)) {
        return false;
    }
    record.round_id = static_cast<std::int32_t>(low_bits(round["round_id"]));
    record.course_name = round["course_name"].asString();
    record.slope_rating = static_cast<std::uint8_t>(low_bits(round["slope_rating"]));
    record.course_rating = round["course_rating"].asFloat();
    record.course_id = static_cast<std::uint16_t>(low_bits(round["course_id"]));
    record.teebox = static_cast<std::uint8_t>(low_bits(round["teebox"]));
    return true;
}

}  // namespace

bool USBDiskUserScores::fill(const Json::Value& answer) {
    if (!answer.isMember("user_scores")) {
        return true;
    }
    const Json::Value& scores = answer["user_scores"];
    if (!scores.isObject() || !scores.isMember("user_score")) {
        return refuse("user_scores must be an object and have field user_score\r\n");
    }
    const Json::Value& rounds = scores["user_score"];
    if (!rounds.isNull() && !rounds.isArray()) {
        return refuse("user_score must be an array\r\n");
    }
    if (rounds.empty()) {
        log(3, "user_score is empty\r\n");
        return true;
    }
    if (rounds.size() > max_score_records) {
        log(3, "user_score has %u rounds, a unit keeps %u\r\n", rounds.size(), max_score_records);
        return false;
    }
    records.resize(rounds.size());
    for (Json::ArrayIndex i = 0; i < rounds.size(); ++i) {
        if (!fill_round(rounds[i], records[i])) {
            return false;
        }
    }
    return true;
}

std::string user_scores_text(const std::vector<user_score_record>& records) {
    if (records.empty()) {
        return "{}";
    }
    Json::Value rounds(Json::arrayValue);
    for (const user_score_record& record : records) {
        const round_time& date = record.round_date;
        Json::Value round(Json::objectValue);
        round["round_date"] = format_text("%04d-%02d-%02d %02d:%02d:%02d", date.year, date.month,
                                          date.day, date.hour, date.minute, date.second);
        round["round_id"] = record.round_id;
        round["course_name"] = record.course_name;
        round["slope_rating"] = record.slope_rating;
        round["course_id"] = record.course_id;
        round["teebox"] = record.teebox;
        // An infinite rating (a damaged score file, or a rating the service once sent past a
        // float's range) would go up as 1e+9999, a number JSON readers refuse, and the whole
        // request with it; it goes up as null, as a NaN does.
        round["course_rating"] = std::isfinite(record.course_rating)
                                     ? Json::Value(static_cast<double>(record.course_rating))
                                     : Json::Value();
        Json::Value holes(Json::arrayValue);
        for (const hole_score& hole : record.score) {
            Json::Value entry(Json::objectValue);
            entry["score"] = hole.score;
            entry["putts"] = hole.putts;
            holes.append(entry);
        }
        round["score"] = holes;
        rounds.append(round);
    }
    Json::Value text(Json::objectValue);
    text["user_scores"]["user_score"] = rounds;
    return compact_json(text) + "\n";
}

}  // namespace orvel
