// Tar-package units end to end: the built agent writes courses into the unit's course
// library, unpacks packages onto the simulated volume, and brings a Prang unit the
// ephemeris files the test cloud offers for its serial number.
#include <atomic>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "e2e/usbdisk_agent.h"
#include "support/byte_pattern.h"
#include "support/tar_archive.h"

namespace orvel::e2e {
namespace {

using test::little_endian;

namespace fs = std::filesystem;

const std::string envelope = R"("Status":1,"ErrorMessage":"")";

class TarPackageAgent : public UsbDiskAgent {
protected:
    // The ephemeris answers: the list offers the first url, each confirmation the next.
    void offer(const std::vector<std::string>& urls, int first_days) {
        const auto answer = [urls, first_days](std::size_t n) {
            if (n >= urls.size()) {
                return test::http_reply::json("{" + envelope + "}");
            }
            return test::http_reply::json("{" + envelope + R"(,"url":")" + urls[n] +
                                          R"(","days":)" + std::to_string(first_days + int(n)) +
                                          "}");
        };
        cloud.reply_rest("ProductEphemerisLogList", answer(0));
        confirmed_ = 0;
        cloud.handle_rest(
            "ProductEphemerisLogCreate",
            [this, answer](const test::recorded_request&) { return answer(++confirmed_); });
    }

    std::string serve(const std::string& path, const std::string& content) {
        cloud.reply(path, test::http_reply::text(200, content));
        return cloud.url(path);
    }

    std::vector<std::string> bodies_of(const std::string& action) const {
        std::vector<std::string> bodies;
        for (const auto& request : cloud.requests()) {
            if (request.action == action) {
                bodies.push_back(request.body);
            }
        }
        return bodies;
    }

    std::size_t ephemeris_requests() const {
        return bodies_of("ProductEphemerisLogList").size() +
               bodies_of("ProductEphemerisLogCreate").size();
    }

    std::atomic<std::size_t> confirmed_{0};
};

TEST_F(TarPackageAgent, PrangCourseUpdateBringsTheOfferedEphemerisFilesOneByOne) {
    library("PRANG.STP", "prang.idx");
    start(volume.path());
    search("Prang", "SN-77");

    const std::string files[] = {pattern(3000, 1), pattern(10, 2), pattern(70000, 3)};
    offer({serve("/eph/gps_ab12.alp", files[0]), serve("/eph/x_cd34.alp", files[1]),
           serve("/eph/x_Ef56.alp", files[2])},
          11);
    const std::string course = pattern(100, 4);
    ASSERT_EQ(update(9, course_answer(9, 3, course)), finished);

    std::string data(1000, '.');
    data.replace(200, 100, course);  // index 3 is k = 2
    EXPECT_TRUE(holds(volume / "crs/d00", data));
    EXPECT_TRUE(holds(volume / "ALP/AB12.ALP", files[0]));
    EXPECT_TRUE(holds(volume / "ALP/CD34.ALP", files[1]));
    EXPECT_TRUE(holds(volume / "ALP/EF56.ALP", files[2]));
    EXPECT_EQ(cloud.count("/eph/"), 3u);
    EXPECT_EQ(bodies_of("ProductEphemerisLogList"),
              std::vector<std::string>{
                  "{\"id_relationship\":0,\"lastRecord\":1,\"serialNumber\":\"SN-77\"}\n"});
    const auto confirmations = bodies_of("ProductEphemerisLogCreate");
    ASSERT_EQ(confirmations.size(), 3u);
    for (int n = 0; n < 3; ++n) {
        const std::regex body(R"(\{"date_confirmed":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","days":)" +
                              std::to_string(11 + n) +
                              R"(,"id_relationship":0,"serialNumber":"SN-77"\}\n)");
        EXPECT_TRUE(std::regex_match(confirmations[n], body)) << confirmations[n];
    }

    // Names that would lead out of "ALP/" end the update of the files quietly.
    for (const std::string& url : {cloud.url("/eph_dir/x.alp"), cloud.url("/eph/x_..")}) {
        cloud.clear_requests();
        offer({url}, 14);
        EXPECT_EQ(update(9, course_answer(9, 3, course)), finished);
        EXPECT_TRUE(agent->log_mentions("Ephemeris url parse failed: 14 " + url));
        EXPECT_EQ(bodies_of("ProductEphemerisLogCreate").size(), 0u);
        EXPECT_EQ(cloud.count("/eph"), 0u);
    }
    EXPECT_EQ(test::files_below(volume / "ALP").size(), 3u);

    // A broken answer or a failed download leaves the course update's success standing.
    cloud.reply_rest("ProductEphemerisLogList",
                     test::http_reply::json("{" + envelope + R"(,"url":5})"));
    EXPECT_EQ(update(9, course_answer(9, 3, course)), finished);
    EXPECT_TRUE(agent->log_mentions("Ephemeris update failed: url must be a string in {" +
                                    envelope + R"(,"url":5})"));
    cloud.clear_requests();
    cloud.reply("/eph/gone_g.alp", test::http_reply::text(404, "gone"));
    offer({cloud.url("/eph/gone_g.alp")}, 20);
    EXPECT_EQ(update(9, course_answer(9, 3, course)), finished);
    EXPECT_TRUE(agent->log_mentions("Ephemeris update failed: Download (eph/gone_g.alp) failed"));
    EXPECT_EQ(bodies_of("ProductEphemerisLogCreate").size(), 0u);
    EXPECT_FALSE(fs::exists(volume / "ALP/G.ALP"));

    // A failed course update does not reach the ephemeris step.
    cloud.clear_requests();
    std::string custom = course_answer(9, 3, course);
    custom.insert(custom.size() - 1, R"(,"bCustom":1)");
    EXPECT_EQ(update(9, custom), coded(5, 600));
    EXPECT_TRUE(agent->log_mentions("Incompatible bCustom and glf_idx values"));
    EXPECT_EQ(ephemeris_requests(), 0u);
}

// A service that never stops offering files would fill the unit and hold the update.
TEST_F(TarPackageAgent, NoMoreThan64EphemerisFilesAreFetchedInOneUpdate) {
    library("PRANG.STP", "prang.idx");
    start(volume.path());
    search("Prang", "SN-77");
    std::vector<std::string> urls;
    for (int n = 0; n < 66; ++n) {
        urls.push_back(serve("/eph/x_" + std::to_string(n) + ".alp", std::to_string(n)));
    }
    offer(urls, 1);
    EXPECT_EQ(update(9, course_answer(9, 3, "c")), finished);
    EXPECT_EQ(cloud.count("/eph/"), 64u);
    EXPECT_EQ(test::files_below(volume / "ALP").size(), 64u);
    EXPECT_EQ(bodies_of("ProductEphemerisLogCreate").size(), 64u);
    EXPECT_TRUE(agent->log_mentions(
        "Ephemeris update failed: More than 64 ephemeris files offered, " + urls[64] + " refused"));
}

TEST_F(TarPackageAgent, WithoutASerialNumberOrOnAMorvaneNoEphemerisIsAskedFor) {
    library("PRANG.STP", "prang.idx");
    library("morvane.stp", "morvane.idx");
    offer({serve("/eph/gps_ab12.alp", "never")}, 1);
    start(volume.path());

    search("Prang");
    EXPECT_EQ(update(9, course_answer(9, 1, "prang")), finished);
    search("Morvane", "SN-77");
    EXPECT_EQ(update(9, course_answer(9, 2, "morvane")), finished);

    EXPECT_EQ(test::read_file(volume / "crs/d00").substr(0, 107),
              "prang" + std::string(95, '.') + "morvane");
    EXPECT_EQ(ephemeris_requests(), 0u);
    EXPECT_FALSE(fs::exists(volume / "ALP"));
}

TEST_F(TarPackageAgent, FullUpdateUnpacksThePackageOntoThePrangThenAsksForEphemeris) {
    library("PRANG.STP", "prang.idx");
    start(volume.path());
    search("Prang", "SN-77");
    offer({}, 0);
    const auto full_update = [&](const std::string& files, const std::string& urls) {
        cloud.reply_rest("DeviceFullDataDetails",
                         test::http_reply::json("{" + envelope + R"(,"files":[)" + files +
                                                R"(],"urls":[)" + urls + R"(],"version":5})"));
        cloud.reply_rest("DeviceFullDataConfirm", test::http_reply::json("{" + envelope + "}"));
        cloud.clear_requests();
        return run("FullUpdate", R"(,"device":"any","server":")" + cloud.host() +
                                     R"(","userKey":"k","userSecret":"s","id_memberProduct":0)");
    };
    const auto left_on_computer = [&] {
        return fs::exists(agent->temp_dir() + "orvelsync_tar.download") ||
               fs::exists(agent->temp_dir() + "untar.temp");
    };

    test::temp_folder source("prang-package");
    fs::create_directories(source / "pkg/idx");
    fs::create_directories(source / "pkg/crs");
    test::write_file(source / "pkg/idx/prang.idx",
                     "HEAD" + little_endian(40, 2) + little_endian(10, 2));
    test::write_file(source / "pkg/crs/d01", pattern(5000, 5));
    test::write_file(source / "pkg/top.bin", "top");
    ASSERT_TRUE(test::make_archive("python", "pax", source.path(), source / "prang.tar"));
    const std::string url = serve("/files/prang.tar", test::read_file(source / "prang.tar"));
    ASSERT_EQ(full_update(R"("prang.tar")", "\"" + url + "\""), finished);
    EXPECT_TRUE(holds(volume / "crs/d01", pattern(5000, 5)));
    EXPECT_TRUE(holds(volume / "top.bin", "top"));
    EXPECT_TRUE(holds(volume / "crs/d00", std::string(1000, '.')));
    EXPECT_FALSE(fs::exists(volume / "prang.tar"));
    EXPECT_FALSE(left_on_computer());
    const auto asked = cloud.requests();
    ASSERT_GE(asked.size(), 2u);
    EXPECT_EQ(asked[asked.size() - 2].action, "DeviceFullDataConfirm");
    EXPECT_EQ(asked.back().action, "ProductEphemerisLogList");

    // A package with an entry outside the unit: 600, not confirmed, no ephemeris after it.
    test::tar_builder escaping;
    escaping.file("pkg/top.bin", "new top").file("pkg/../escaped", "x").end();
    const std::string bad_url = serve("/files/bad.tar", escaping.bytes());
    EXPECT_EQ(full_update(R"("prang.tar")", "\"" + bad_url + "\""), coded(5, 600));
    EXPECT_TRUE(holds(volume / "top.bin", "top"));
    EXPECT_TRUE(bodies_of("DeviceFullDataConfirm").empty());
    EXPECT_EQ(ephemeris_requests(), 0u);
    EXPECT_FALSE(left_on_computer());

    // Nothing to download: no file step, so no ephemeris step either.
    EXPECT_EQ(full_update("", ""), finished);
    EXPECT_TRUE(agent->log_mentions("FullSync not needed"));
    EXPECT_EQ(ephemeris_requests(), 0u);
}

}  // namespace
}  // namespace orvel::e2e
