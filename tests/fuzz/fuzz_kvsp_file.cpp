// The unit's score files: the input is read as records of 151 bytes. A record reads to
// 18 holes and a name from its field; written back and read again it is the same round, and
// the rounds go up to the service as JSON that reads back with as many rounds.
#include <json/reader.h>
#include <json/value.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

#include "devices/usbdisk/kvsp_file.h"
#include "fuzz/fuzz_check.h"
#include "platform/memory_stream.h"

namespace {

bool same_round(const orvel::user_score_record& a, const orvel::user_score_record& b) {
    const orvel::round_time& x = a.round_date;
    const orvel::round_time& y = b.round_date;
    bool same = x.year == y.year && x.month == y.month && x.day == y.day && x.hour == y.hour &&
                x.minute == y.minute && x.second == y.second && a.round_id == b.round_id &&
                a.course_name == b.course_name && a.slope_rating == b.slope_rating &&
                std::memcmp(&a.course_rating, &b.course_rating, sizeof a.course_rating) == 0 &&
                a.course_id == b.course_id && a.teebox == b.teebox &&
                a.score.size() == b.score.size();
    for (std::size_t i = 0; same && i < a.score.size(); ++i) {
        same = a.score[i].score == b.score[i].score && a.score[i].putts == b.score[i].putts;
    }
    return same;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orvel::memory_stream file(static_cast<std::uint32_t>(size + 1));
    file.write(data, static_cast<std::uint32_t>(size));
    file.rewind();
    std::vector<orvel::user_score_record> rounds;
    while (file.size() - file.tell() >= orvel::kvsp_record_size) {
        rounds.push_back(orvel::read_kvsp_record(file));
        const orvel::user_score_record& round = rounds.back();
        FUZZ_CHECK(round.score.size() == 18);
        FUZZ_CHECK(round.course_name.size() <= orvel::kvsp_name_size);
        orvel::memory_stream again(orvel::kvsp_record_size);
        orvel::write_kvsp_record(again, round);
        again.rewind();
        FUZZ_CHECK(same_round(orvel::read_kvsp_record(again), round));
    }
    Json::Value sent;
    Json::CharReaderBuilder builder;
    std::string problem;
    std::istringstream text(orvel::user_scores_text(rounds));
    FUZZ_CHECK(Json::parseFromStream(builder, text, &sent, &problem));
    FUZZ_CHECK(sent["user_scores"]["user_score"].size() == rounds.size());
    return 0;
}
