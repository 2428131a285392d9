// Full update and restore of USB-disk units end to end: the built agent sends the unit's
// round scores up, puts the files the test cloud lists onto the simulated volume, and writes
// the scores and articles that come back as the unit's own files.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/usbdisk_agent.h"

namespace orvel::e2e {
namespace {

namespace fs = std::filesystem;

std::string json_text(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

Json::Value parsed(const std::string& text) {
    Json::Value value;
    std::string errors;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors)) << text;
    return value;
}

// One round as the test knows it; seeds make every field differ from round to round.
struct round {
    unsigned course_id;
    int year, month, day, hour, minute, second;
    unsigned teebox;
    std::int32_t round_id;
    std::vector<std::pair<unsigned, unsigned>> holes;
    float rating;
    unsigned slope;
    std::string name;
};

round make_round(unsigned seed, std::string name = "") {
    round r{60000 + seed,
            2020 + int(seed % 5),
            1 + int(seed % 12),
            1 + int(seed % 28),
            int(seed % 24),
            int(seed % 60),
            int((seed * 7) % 60),
            seed % 4,
            -1000 - int(seed),
            {},
            60.5f + float(seed) / 4,
            110 + seed,
            name.empty() ? "Course " + std::to_string(seed) : name};
    for (unsigned hole = 0; hole < 18; ++hole) {
        r.holes.push_back({3 + (seed + hole) % 5, 1 + (seed * hole) % 3});
    }
    return r;
}

void put_le(std::string& bytes, std::size_t at, std::uint32_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

// The unit's 151-byte score file, laid out here from its description.
std::string kvsp_file(const round& r) {
    std::string bytes(151, '\0');
    bytes.replace(0, 4, "KVSP");
    put_le(bytes, 4, r.course_id, 2);
    put_le(bytes, 6, r.year, 2);
    const int clock[] = {r.month, r.day, r.hour, r.minute, r.second};
    for (int i = 0; i < 5; ++i) {
        bytes[8 + i] = static_cast<char>(clock[i]);
    }
    bytes[14] = static_cast<char>(r.teebox);
    put_le(bytes, 16, static_cast<std::uint32_t>(r.round_id), 4);
    for (std::size_t hole = 0; hole < r.holes.size(); ++hole) {
        bytes[20 + 2 * hole] = static_cast<char>(r.holes[hole].first);
        bytes[21 + 2 * hole] = static_cast<char>(r.holes[hole].second);
    }
    std::uint32_t rating = 0;
    std::memcpy(&rating, &r.rating, 4);
    put_le(bytes, 56, rating, 4);
    bytes[60] = static_cast<char>(r.slope);
    bytes.replace(61, std::min<std::size_t>(r.name.size(), 90), r.name.substr(0, 90));
    return bytes;
}

// A round in the form both sides send: the service in its answer, the agent in "userScores".
Json::Value round_json(const round& r) {
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", r.year, r.month, r.day,
                  r.hour, r.minute, r.second);
    Json::Value value(Json::objectValue);
    value["round_date"] = date;
    value["round_id"] = r.round_id;
    value["course_name"] = r.name;
    value["slope_rating"] = r.slope;
    value["course_id"] = r.course_id;
    value["teebox"] = r.teebox;
    value["course_rating"] = double(r.rating);
    value["score"] = Json::Value(Json::arrayValue);
    for (const auto& hole : r.holes) {
        Json::Value entry(Json::objectValue);
        entry["score"] = hole.first;
        entry["putts"] = hole.second;
        value["score"].append(entry);
    }
    return value;
}

Json::Value scores_json(const std::vector<round>& rounds) {
    Json::Value list(Json::arrayValue);
    for (const round& r : rounds) {
        list.append(round_json(r));
    }
    Json::Value scores(Json::objectValue);
    scores["user_score"] = list;
    return scores;
}

// What the agent sends up for these score files.
std::string user_scores_text(const std::vector<round>& rounds) {
    Json::Value text(Json::objectValue);
    text["user_scores"] = scores_json(rounds);
    return json_text(text) + "\n";
}

Json::Value article(const std::string& title, const std::string& date, int rating) {
    Json::Value value(Json::objectValue);
    value["title"] = title;
    value["subtitle"] = "Sub " + title;
    value["content"] = "Text of " + title;
    value["author"] = "Ann Author";
    value["date"] = date;
    value["rating"] = rating;
    return value;
}

// The unit's article file, laid out here from its description.
std::string nar_file(std::int64_t seconds, int rating, const std::string& title) {
    std::string bytes(8, '\0');
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<char>(static_cast<std::uint64_t>(seconds) >> (8 * i));
    }
    bytes += static_cast<char>(rating);
    return bytes + title + "\nSub " + title + "\nText of " + title + "\nAnn Author\n\n";
}

Json::Value answer(const std::vector<std::pair<std::string, std::string>>& files, int version) {
    Json::Value value(Json::objectValue);
    value["Status"] = 1;
    value["ErrorMessage"] = "";
    value["urls"] = Json::Value(Json::arrayValue);
    value["files"] = Json::Value(Json::arrayValue);
    for (const auto& [file, url] : files) {
        value["files"].append(file);
        value["urls"].append(url);
    }
    value["version"] = version;
    return value;
}

const std::string confirmed = R"({"ErrorMessage":"","Status":1})";

// Whether some process holds the file as the agent holds a unit's open course file.
bool held_open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string score_name(unsigned n) {
    char name[16];
    std::snprintf(name, sizeof name, "SP/KVSP%02u.SP", n);
    return name;
}

class FullUpdateAgent : public UsbDiskAgent {
protected:
    std::string full_update(const Json::Value& reply, std::chrono::milliseconds timeout = 10s) {
        cloud.reply_rest("DeviceFullDataDetails", test::http_reply::json(json_text(reply)));
        cloud.clear_requests();
        return run("FullUpdate",
                   R"(,"device":"any","server":")" + cloud.host() +
                       R"(","userKey":"k","userSecret":"s","id_memberProduct":0)",
                   timeout);
    }

    std::string restore(const Json::Value& reply) {
        cloud.reply_rest("DeviceRestore", test::http_reply::json(json_text(reply)));
        cloud.clear_requests();
        return run("RestoreDevice");
    }

    // The body of the one request of the action, "" when there was none.
    std::string body_of(const std::string& action) {
        std::string body;
        std::size_t seen = 0;
        for (const auto& request : cloud.requests()) {
            if (request.action == action) {
                body = request.body;
                ++seen;
            }
        }
        EXPECT_LE(seen, 1u) << action;
        return body;
    }

    // Served at /files/<name>.
    std::string serve(const std::string& name, const std::string& content) {
        cloud.reply("/files/" + name, test::http_reply::text(200, content));
        return cloud.url("/files/" + name);
    }
};

TEST_F(FullUpdateAgent, Km3SendsItsScoresUpKeepsTheSetupHeadAndInstallsThePackage) {
    test::write_file(volume / "Brevanto.exe", "");
    const std::string old_course = pattern(3000, 1);
    const std::string old_setup = pattern(1200, 2);
    test::write_file(volume / "EMBEDD01.GLF", old_course);
    test::write_file(volume / "SETUP.KM3", old_setup);
    fs::create_directory(volume / "SP");
    const round r0 = make_round(0), r3 = make_round(3, std::string(90, 'N'));
    const round r99 = make_round(99);
    test::write_file(volume / score_name(0), kvsp_file(r0));
    test::write_file(volume / score_name(3), kvsp_file(r3));
    test::write_file(volume / score_name(99), kvsp_file(r99));
    test::write_file(volume / "SP/KVSP100.SP", "too short to be read");  // numbers end at 99
    start(volume.path());
    search("KM3");

    const std::string setup = pattern(1000, 3);
    const std::string package = pattern(5000, 4);
    Json::Value reply = answer(
        {{"SETUP.KM3", serve("setup", setup)}, {"EMBEDD01.GLF", serve("package", package)}}, 42);
    std::vector<round> returned;
    for (unsigned n = 0; n < 10; ++n) {
        returned.push_back(make_round(20 + n, n == 7 ? std::string(95, 'L') : ""));
    }
    reply["user_scores"] = scores_json(returned);
    cloud.reply_rest("DeviceFullDataConfirm", test::http_reply::json(confirmed));
    ASSERT_EQ(full_update(reply), finished);

    const Json::Value body = parsed(body_of("DeviceFullDataDetails"));
    EXPECT_EQ(body["updateArticles"], 0);
    EXPECT_EQ(body["userScores"].asString(), user_scores_text({r0, r3, r99}));
    EXPECT_TRUE(
        holds(volume / "SETUP.KM3", old_setup.substr(0, 29) + setup + old_setup.substr(29 + 1000)));
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", package));
    // The plain-socket download of packages, which the retrying one drives.
    const auto fetched = cloud.requests_to("/files/package");
    ASSERT_EQ(fetched.size(), 1u);
    EXPECT_NE(fetched[0].raw_head.find("Accept: */*\r\nConnection: close\r\n"), std::string::npos);
    EXPECT_EQ(body_of("DeviceFullDataConfirm"), "{\"id_relationship\":0,\"version\":42}\n");
    for (unsigned n = 0; n < 10; ++n) {
        round expected = returned[n];
        expected.name = expected.name.substr(0, 90);
        EXPECT_TRUE(holds(volume / score_name(n), kvsp_file(expected))) << n;
    }
    EXPECT_EQ(test::read_file(volume / score_name(7)).substr(61), std::string(90, 'L'));
    EXPECT_TRUE(holds(volume / score_name(99), kvsp_file(r99)));
    EXPECT_FALSE(fs::exists(volume / "NAR"));
    EXPECT_TRUE(held_open(volume / "EMBEDD01.GLF"));  // a full update leaves the unit open

    // Five rounds back over ten: the files beyond them keep theirs.
    Json::Value fewer = answer({}, 43);
    fewer["user_scores"] = scores_json({returned.begin() + 5, returned.end()});
    ASSERT_EQ(full_update(fewer), finished);
    std::vector<round> sent(returned);
    sent[7].name.resize(90);  // a name that fills its field reads back whole
    sent.push_back(r99);
    EXPECT_EQ(parsed(body_of("DeviceFullDataDetails"))["userScores"].asString(),
              user_scores_text(sent));
    for (unsigned n = 0; n < 10; ++n) {
        EXPECT_TRUE(holds(volume / score_name(n), kvsp_file(sent[n < 5 ? n + 5 : n]))) << n;
    }
    EXPECT_TRUE(agent->log_mentions("FullSync not needed"));
    EXPECT_EQ(cloud.count("/files/"), 0u);
}

TEST_F(FullUpdateAgent, JtcPlusWritesArticlesAndScoresAndTakesLowerCaseNamesAsOrdinaryFiles) {
    test::write_file(volume / "SYSREG.SMI", "");
    const std::string old_course = pattern(800, 5);
    test::write_file(volume / "EMBEDD01.GLF", old_course);
    start(volume.path());
    search("JTCPlus");

    Json::Value reply = answer({}, 3);
    reply["articles"]["news"].append(article("Opening day", "2020-01-02", 4));
    reply["articles"]["news"].append(article("Rain delay", "2040-01-01", 2));
    for (int n = 0; n < 11; ++n) {
        reply["articles"]["tips"].append(article("Tip " + std::to_string(n), "1999-12-31", n));
    }
    reply["user_scores"] = scores_json({make_round(4)});
    ASSERT_EQ(full_update(reply), finished);

    EXPECT_TRUE(agent->log_mentions("FullSync not needed"));
    const Json::Value body = parsed(body_of("DeviceFullDataDetails"));
    EXPECT_EQ(body["updateArticles"], 1);
    EXPECT_EQ(body["userScores"], "{}");  // no score files yet
    // 2040-01-01 lies 25567 days after 1970-01-01 (70 years, 17 of them leap years).
    EXPECT_TRUE(holds(volume / "NAR/NEWS0.NAR", nar_file(1577923200, 4, "Opening day")));
    EXPECT_TRUE(holds(volume / "NAR/NEWS1.NAR", nar_file(25567LL * 86400, 2, "Rain delay")));
    // A unit shows ten a category; the eleventh would have needed a ':' in its name.
    EXPECT_TRUE(holds(volume / "NAR/TIPS9.NAR", nar_file(946598400, 9, "Tip 9")));
    EXPECT_EQ(names_in(volume / "NAR").size(), 12u);
    EXPECT_TRUE(agent->log_mentions("Category tips: 1 of its 11 articles left out"));
    EXPECT_TRUE(holds(volume / score_name(0), kvsp_file(make_round(4))));
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", old_course));

    const std::string lower = pattern(700, 6);
    ASSERT_EQ(full_update(answer({{"embedd01.glf", serve("lower", lower)}}, 4)), finished);
    EXPECT_TRUE(holds(volume / "embedd01.glf", lower));
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", old_course));
    EXPECT_EQ(body_of("DeviceFullDataConfirm"), "");
    EXPECT_EQ(parsed(body_of("DeviceFullDataDetails"))["userScores"].asString(),
              user_scores_text({make_round(4)}));
}

TEST_F(FullUpdateAgent, MalformedAnswersFailWith400AndWriteNothing) {
    test::write_file(volume / "SYSREG.SMI", "");
    test::write_file(volume / "EMBEDD01.GLF", "");
    start(volume.path());
    search("JTCPlus");

    Json::Value short_round = answer({{"SETUP.SMI", serve("setup", "new")}}, 1);
    short_round["user_scores"] = scores_json({make_round(1)});
    short_round["user_scores"]["user_score"][0]["score"].resize(17);
    short_round["articles"]["news"].append(article("Never", "2020-01-01", 1));
    EXPECT_EQ(full_update(short_round), coded(5, 400));
    EXPECT_TRUE(agent->log_mentions("score size is 17, expecting 18\r\n"));
    EXPECT_TRUE(agent->log_mentions("user scores fill failed for " + json_text(short_round)));

    Json::Value uneven = answer({{"SETUP.SMI", serve("setup", "new")}}, 1);
    uneven["urls"].append(serve("more", "more"));
    EXPECT_EQ(full_update(uneven), coded(5, 400));
    EXPECT_TRUE(
        agent->log_mentions("urls and files must be the same size in " + json_text(uneven)));

    // Rounds past the hundredth would go to KVSP100.SP and on, names the unit never reads.
    std::vector<round> rounds(101, make_round(2));
    Json::Value too_many = answer({{"SETUP.SMI", serve("setup", "new")}}, 1);
    too_many["user_scores"] = scores_json(rounds);
    EXPECT_EQ(full_update(too_many), coded(5, 400));
    EXPECT_TRUE(agent->log_mentions("user_score has 101 rounds, a unit keeps 100\r\n"));

    EXPECT_EQ(names_in(volume.path()),
              (std::vector<std::string>{"EMBEDD01.GLF", "SP", "SYSREG.SMI"}));
    EXPECT_EQ(cloud.count("/files/"), 0u);
    Json::Value full = answer({}, 2);
    full["user_scores"] = scores_json({rounds.begin() + 1, rounds.end()});
    EXPECT_EQ(full_update(full), finished);
    EXPECT_EQ(names_in(volume / "SP").size(), 100u);
}

TEST_F(FullUpdateAgent, RestoreDownloadsTheListAndClosesTheUnit) {
    test::write_file(volume / "SYSREG.SMI", "");
    test::write_file(volume / "EMBEDD01.GLF", pattern(900, 7));
    test::write_file(volume / "SETUP.SMI", pattern(500, 8));
    start(volume.path());
    search("ZelPlus");

    const std::string course = pattern(1800, 9), setup = pattern(300, 10);
    const std::string map = pattern(64, 11);
    cloud.reply_rest("DeviceFullDataConfirm", test::http_reply::json(confirmed));
    EXPECT_EQ(restore(answer({{"EMBEDD01.GLF", serve("course", course)},
                              {"SETUP.SMI", serve("setup", setup)},
                              {"MAPS/AREA/MAP01.BIN", serve("map", map)}},
                             7)),
              finished);
    EXPECT_EQ(body_of("DeviceRestore"), "{\"id_relationship\":0}\n");
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", course));
    EXPECT_TRUE(holds(volume / "SETUP.SMI", setup));  // a whole file for this model
    EXPECT_TRUE(holds(volume / "MAPS/AREA/MAP01.BIN", map));
    EXPECT_EQ(body_of("DeviceFullDataConfirm"), "{\"id_relationship\":0,\"version\":7}\n");
    EXPECT_FALSE(held_open(volume / "EMBEDD01.GLF"));

    // JTC has no set-up file: a list that names one fails before it is downloaded.
    search("JTC");
    EXPECT_EQ(restore(answer({{"SETUP.SMI", serve("setup", "other")}}, 8)), coded(5, 600));
    EXPECT_TRUE(holds(volume / "SETUP.SMI", setup));
    EXPECT_TRUE(agent->log_mentions("setup.smi not supported"));
}

TEST_F(FullUpdateAgent, NamesFromTheServiceStayBelowTheRoot) {
    test::temp_folder outer{"outer"};
    const std::string root = outer / "unit/";
    fs::create_directory(root);
    test::write_file(root + "SYSREG.SMI", "");
    test::write_file(root + "EMBEDD01.GLF", "");
    fs::create_directory(root + "SP");
    start(root);
    search("JTCPlus");
    const std::vector<std::string> before = names_in(outer.path());

    for (const char* name : {"../x", "/x", "SUB/../../x"}) {
        EXPECT_EQ(
            full_update(answer({{"SETUP.SMI", serve("setup", "s")}, {name, serve("x", "x")}}, 1)),
            coded(5, 600))
            << name;
    }
    Json::Value category = answer({{"SETUP.SMI", serve("setup", "s")}}, 1);
    category["articles"]["../x"].append(article("Away", "2020-01-01", 1));
    category["articles"]["a"].append(article("Fine", "2020-01-01", 1));
    EXPECT_EQ(full_update(category), coded(5, 800));
    EXPECT_TRUE(agent->log_mentions("Article category ../x is no file name"));

    EXPECT_EQ(cloud.count("/files/"), 0u);
    EXPECT_EQ(names_in(outer.path()), before);
    EXPECT_FALSE(fs::exists(root + "x"));
}

TEST_F(FullUpdateAgent, AFailedDownloadLeavesTheUnitsFileAsItWas) {
    test::write_file(volume / "Brevanto.exe", "");
    const std::string old_course = pattern(2000, 12), old_setup = pattern(100, 13);
    test::write_file(volume / "EMBEDD01.GLF", old_course);
    test::write_file(volume / "SETUP.KM3", old_setup);
    fs::create_directory(volume / "SP");
    start(volume.path());
    search("KM3");
    const std::vector<std::string> before = names_in(volume.path());

    cloud.reply("/files/setup", test::http_reply::text(404, "gone"));
    EXPECT_EQ(full_update(answer({{"SETUP.KM3", cloud.url("/files/setup")}}, 1)), coded(5, 600));
    EXPECT_TRUE(holds(volume / "SETUP.KM3", old_setup));
    EXPECT_EQ(names_in(volume.path()), before);

    // The package download tries four times, 5, 10 and 15 s apart, and then gives up.
    cloud.fail_first("/files/package", 3, test::http_reply::text(404, "not yet"),
                     test::http_reply::cut_after(1000, pattern(4000, 14)));
    EXPECT_EQ(full_update(answer({{"EMBEDD01.GLF", cloud.url("/files/package")}}, 2), 45s),
              coded(5, 1600));
    EXPECT_EQ(cloud.count("/files/package"), 4u);
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", old_course));
    EXPECT_EQ(names_in(volume.path()), before);
    EXPECT_EQ(body_of("DeviceFullDataConfirm"), "");
}

}  // namespace
}  // namespace orvel::e2e
