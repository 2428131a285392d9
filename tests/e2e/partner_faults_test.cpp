// Partners failing end to end: the test cloud drops, stalls, refuses or garbles its answers in
// every exchange, a serial unit babbles or is pulled mid-transfer, a volume goes away or
// fills up, the page leaves mid-update. Each case must end in its coded status (never a
// success), within the exchange's own time-outs, with the unit's files as they were, and the
// agent must go on serving.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "e2e/serial_agent.h"
#include "e2e/usbdisk_agent.h"
#include "sim/hx62_unit.h"
#include "support/tar_archive.h"

namespace orvel::e2e {
namespace {

namespace fs = std::filesystem;
using test::http_reply;
using steady = std::chrono::steady_clock;

const std::string envelope = R"("Status":1,"ErrorMessage":"")";

// The service holds a connection this long mid-body before it closes it: long enough to be a
// stall, short enough that four attempts stay quick.
constexpr auto stall = 300ms;

struct cloud_fault {
    const char* name;
    // The faulty answer in place of the sound one.
    std::function<http_reply(const std::string& sound)> reply;
};

const std::vector<cloud_fault>& cloud_faults() {
    static const std::vector<cloud_fault> faults = {
        {"dropped", [](const std::string&) { return http_reply::dropped(); }},
        {"stalled mid-body",
         [](const std::string& sound) {
             return http_reply::stalled_after(sound.size() / 2, sound, stall);
         }},
        {"500", [](const std::string&) { return http_reply::text(500, "{\"error\":1}"); }},
        {"truncated JSON",
         [](const std::string& sound) {
             return http_reply::json(sound.substr(0, sound.size() / 2));
         }},
        {"garbage", [](const std::string&) { return http_reply::json("<html>busy</html>"); }},
    };
    return faults;
}

// The status every fault of the table ends in, in the table's order.
using fault_ends = std::vector<std::string>;

// A failure in transport or a refusal, and a malformed answer.
const fault_ends request_failures = {coded(5, 300), coded(5, 300), coded(5, 300), coded(5, 400),
                                     coded(5, 400)};

// Polls a condition that no page message announces.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
    const steady::time_point deadline = steady::now() + timeout;
    while (!condition()) {
        if (steady::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// The first status from `from` on that ends an operation: Status 4 or 5 (a pulled unit
// shows Status 1 on its way there); "" when none came in time.
std::string operation_end(test::page_client& page, std::size_t from,
                          std::chrono::milliseconds timeout = 10s) {
    std::string end;
    page.wait_for(
        [&](const std::vector<std::string>& lines) {
            for (std::size_t i = from; i < lines.size() && end.empty(); ++i) {
                const std::string message = test::message_of_line(lines[i]);
                const std::optional<int> status = test::status_of(message);
                if (status == 4 || status == 5) {
                    end = message;
                }
            }
            return !end.empty();
        },
        timeout);
    return end;
}

std::string files_answer(const std::string& file, const std::string& url) {
    return "{" + envelope + R"(,"files":[")" + file + R"("],"urls":[")" + url +
           R"("],"version":2})";
}

std::string setup_answer(const std::string& url) {
    return files_answer("SETUP.SMI", url);
}

class PartnerFaults : public UsbDiskAgent {
protected:
    // A ZelPlus unit with its course and set-up files.
    void zel_plus_unit() {
        test::write_file(volume / "SYSREG.SMI", "");
        test::write_file(volume / "EMBEDD01.GLF", pattern(4 * 1808, 1));
        test::write_file(volume / "SETUP.SMI", pattern(500, 2));
    }

    // The ZelPlus unit chosen, its full update offering the set-up file at /files/setup.
    void zel_plus_offered_its_setup_file() {
        zel_plus_unit();
        start(volume.path());
        search("ZelPlus", "", 7);
        ASSERT_TRUE(becomes(2));
        cloud.reply_rest("DeviceFullDataDetails",
                         http_reply::json(setup_answer(cloud.url("/files/setup"))));
    }

    std::string full_update(std::chrono::milliseconds timeout = 10s) {
        return run("FullUpdate",
                   R"(,"device":"any","server":")" + cloud.host() + R"(","userKey":")" + user_key +
                       R"(","userSecret":")" + user_secret + R"(","id_memberProduct":0)",
                   timeout);
    }

    // Runs the operation once per fault of the table, the fault in the answer to `action`,
    // and checks its end, that the unit's files stayed as they were and that the sound
    // operation still succeeds after it.
    void each_fault(const std::string& action, const std::string& sound, const fault_ends& ends,
                    const std::function<std::string()>& operation, bool writes_first = false) {
        ASSERT_EQ(ends.size(), cloud_faults().size());
        for (std::size_t n = 0; n < ends.size(); ++n) {
            SCOPED_TRACE(action + " " + cloud_faults()[n].name);
            const auto before = test::files_below(volume.path());
            cloud.reply_rest(action, cloud_faults()[n].reply(sound));
            const steady::time_point began = steady::now();
            EXPECT_EQ(operation(), ends[n]);
            EXPECT_LT(steady::now() - began, 5s);
            if (ends[n] != finished && !writes_first) {
                EXPECT_EQ(test::files_below(volume.path()), before);
            }
            cloud.reply_rest(action, http_reply::json(sound));
            EXPECT_EQ(operation(), finished);
        }
    }
};

TEST_F(PartnerFaults, CourseUpdateFullUpdateAndRestoreEndInTheirCodesAndKeepTheFiles) {
    zel_plus_unit();
    start(volume.path());
    search("ZelPlus");
    ASSERT_TRUE(becomes(2));
    const std::string setup = pattern(300, 3);
    cloud.reply("/files/setup", http_reply::text(200, setup));
    cloud.reply_rest("DeviceFullDataConfirm", http_reply::json("{" + envelope + "}"));

    each_fault("DeviceCourseDataDetails", course_answer(12, 2, pattern(1808, 4)), request_failures,
               [&] { return run("UpdateCourse", R"(,"courseCode":"12")"); });
    each_fault("DeviceFullDataDetails", setup_answer(cloud.url("/files/setup")), request_failures,
               [&] { return full_update(); });
    each_fault("DeviceRestore", setup_answer(cloud.url("/files/setup")), request_failures,
               [&] { return run("RestoreDevice"); });
    EXPECT_TRUE(holds(volume / "SETUP.SMI", setup));

    // An installed package is confirmed; when that fails the update does too.
    const std::string package = pattern(3000, 6);
    cloud.reply("/files/package", http_reply::text(200, package));
    cloud.reply_rest("DeviceFullDataDetails",
                     http_reply::json(files_answer("EMBEDD01.GLF", cloud.url("/files/package"))));
    each_fault(
        "DeviceFullDataConfirm", "{" + envelope + "}",
        fault_ends(cloud_faults().size(), coded(5, 602)), [&] { return full_update(); }, true);
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", package));

    // A slow service is waited for.
    const std::string course = pattern(1808, 5);
    cloud.reply_rest("DeviceCourseDataDetails",
                     http_reply::delayed(10s, http_reply::json(course_answer(13, 1, course))));
    EXPECT_EQ(run("UpdateCourse", R"(,"courseCode":"13")", 15s), finished);
    EXPECT_EQ(test::read_file(volume / "EMBEDD01.GLF").substr(0, 1808), course);
}

TEST_F(PartnerFaults, PrangEphemerisFailuresLeaveTheCourseInPlaceAndOnlyTransportFailsIt) {
    library("PRANG.STP", "prang.idx");
    start(volume.path());
    search("Prang", "SN-5");
    ASSERT_TRUE(becomes(2));
    cloud.reply_rest("DeviceCourseDataDetails", http_reply::json(course_answer(9, 3, "course")));
    cloud.reply_rest("ProductEphemerisLogCreate", http_reply::json("{" + envelope + "}"));
    cloud.reply("/eph/gps_ab12.alp", http_reply::text(200, "ephemeris"));

    // The course is written before the ephemeris exchange, whose failures in transport pass
    // on unchanged (1600); a refused or malformed answer only ends the ephemeris update.
    each_fault(
        "ProductEphemerisLogList",
        "{" + envelope + R"(,"url":")" + cloud.url("/eph/gps_ab12.alp") + R"(","days":3})",
        {coded(5, 1600), coded(5, 1600), finished, finished, finished},
        [&] {
            fs::remove_all(volume / "ALP");
            test::write_file(volume / "crs/d00", std::string(1000, '.'));
            const std::string end = run("UpdateCourse", R"(,"courseCode":"9")");
            EXPECT_EQ(test::read_file(volume / "crs/d00").substr(200, 6), "course");
            return end;
        },
        true);
    EXPECT_TRUE(holds(volume / "ALP/AB12.ALP", "ephemeris"));
}

TEST_F(PartnerFaults, LogUploadFailuresAreLoggedAfterTheFailureTheyFollow) {
    zel_plus_unit();
    start(volume.path());
    search("ZelPlus", "", 7);
    ASSERT_TRUE(becomes(2));
    cloud.reply_rest("DeviceCourseDataDetails", http_reply::json("{\"Status\":1,\"glf"));
    cloud.accept_put("/logs/up");
    const std::string sound = "{" + envelope + R"(,"logURL":")" + cloud.url("/logs/up") + "\"}";
    const fault_ends logged = {"upload_log failed: 300", "upload_log failed: 300",
                               "upload_log failed: 300", "upload_log failed: 400",
                               "upload_log failed: 400"};
    for (std::size_t n = 0; n < logged.size(); ++n) {
        SCOPED_TRACE(cloud_faults()[n].name);
        cloud.reply_rest("MemberLogUploadURL", cloud_faults()[n].reply(sound));
        const std::size_t before = agent->log_count(coded(5, 400));
        EXPECT_EQ(run("UpdateCourse", R"(,"courseCode":"1")"), coded(5, 400));
        EXPECT_TRUE(agent->wait_for_log(logged[n], 5s));
        // The upload's own failure is no second status, and the agent takes commands again.
        search("ZelPlus", "", 7);
        ASSERT_TRUE(becomes(2));
        EXPECT_EQ(agent->log_count(coded(5, 400)), before + 1);
    }
    EXPECT_FALSE(cloud.put_body("/logs/up"));

    // The address answered, the upload refused.
    cloud.reply_rest("MemberLogUploadURL", http_reply::json(sound));
    cloud.reply("/logs/up", http_reply::text(500, "full"));
    search("ZelPlus", "", 7);
    EXPECT_EQ(run("UpdateCourse", R"(,"courseCode":"1")"), coded(5, 400));
    EXPECT_TRUE(agent->wait_for_log("upload_log failed: Download (logs/up) failed", 5s));
    cloud.accept_put("/logs/up");
    EXPECT_EQ(run("UpdateCourse", R"(,"courseCode":"1")"), coded(5, 400));
    EXPECT_TRUE(eventually([&] { return cloud.put_body("/logs/up").has_value(); }));
}

// Files and the log upload, unlike the REST exchanges, are tried four times, 5, 10 and 15 s
// apart.
TEST_F(PartnerFaults, DroppedTransfersAreTriedAgain) {
    ASSERT_NO_FATAL_FAILURE(zel_plus_offered_its_setup_file());
    const std::string setup = pattern(300, 3);
    cloud.fail_first("/files/setup", 1, http_reply::dropped(), http_reply::text(200, setup));
    EXPECT_EQ(full_update(15s), finished);
    EXPECT_TRUE(holds(volume / "SETUP.SMI", setup));
    EXPECT_EQ(cloud.count("/files/setup"), 2u);

    // A failed course update sends its log up; the first PUT is dropped.
    cloud.reply_rest("DeviceCourseDataDetails", http_reply::json("{\"Status\":1,\"glf"));
    cloud.reply_rest("MemberLogUploadURL", http_reply::json("{" + envelope + R"(,"logURL":")" +
                                                            cloud.url("/logs/up") + "\"}"));
    cloud.fail_first("/logs/up", 1, http_reply::dropped(), http_reply::text(200, ""));
    EXPECT_EQ(run("UpdateCourse", R"(,"courseCode":"1")"), coded(5, 400));
    ASSERT_TRUE(eventually([&] { return cloud.count("/logs/up") == 2; }, 10s));
    const test::recorded_request upload = cloud.requests_to("/logs/up")[1];
    EXPECT_EQ(upload.method, "PUT");
    EXPECT_NE(upload.body.find(coded(5, 400)), std::string::npos);
    EXPECT_FALSE(agent->log_mentions("upload_log failed"));
}

TEST_F(PartnerFaults, TransferThatStallsAtEveryTryFailsAfterTheLastAndChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(zel_plus_offered_its_setup_file());
    const auto before = test::files_below(volume.path());
    cloud.reply("/files/setup", http_reply::stalled_after(100, pattern(300, 4), stall));
    EXPECT_EQ(full_update(45s), coded(5, 1600));
    EXPECT_EQ(cloud.count("/files/setup"), 4u);
    EXPECT_EQ(test::files_below(volume.path()), before);
}

TEST_F(PartnerFaults, VolumeRemovedMidUpdateEndsItAndTheReturningUnitIsServed) {
    zel_plus_unit();
    start(volume.path());
    search("ZelPlus");
    ASSERT_TRUE(becomes(2));
    const std::string url = cloud.url("/files/setup");
    cloud.reply("/files/setup", http_reply::delayed(3s, http_reply::text(200, pattern(300, 6))));
    cloud.reply_rest("DeviceRestore", http_reply::json(setup_answer(url)));
    mark = page.received_count();
    page.send(R"({"command":"RestoreDevice"})");
    ASSERT_TRUE(eventually([&] { return cloud.count("/files/setup") > 0; }));
    fs::remove_all(volume.path());
    EXPECT_TRUE(page.wait_for_status(1, 2s, mark));
    EXPECT_EQ(operation_end(page, mark), coded(5, 1500));

    fs::create_directory(volume.path());
    zel_plus_unit();
    mark = page.received_count();
    ASSERT_TRUE(becomes(2));
    cloud.reply("/files/setup", http_reply::text(200, pattern(300, 7)));
    EXPECT_EQ(run("RestoreDevice"), finished);
    EXPECT_TRUE(holds(volume / "SETUP.SMI", pattern(300, 7)));
}

TEST_F(PartnerFaults, PageLeavingMidUpdateStopsItAndTheNextPageIsServedDuringIt) {
    zel_plus_unit();
    start(volume.path());
    search("ZelPlus");
    ASSERT_TRUE(becomes(2));
    cloud.reply("/files/setup", http_reply::delayed(3s, http_reply::text(200, pattern(300, 6))));
    cloud.reply_rest("DeviceRestore", http_reply::json(setup_answer(cloud.url("/files/setup"))));
    page.send(R"({"command":"RestoreDevice"})");
    ASSERT_TRUE(eventually([&] { return cloud.count("/files/setup") > 0; }));
    page.close();
    test::page_client next;
    ASSERT_TRUE(next.connect(agent->wait_for_port())) << next.failure();
    EXPECT_TRUE(next.wait_for_status(0));
    EXPECT_TRUE(agent->wait_for_log(coded(5, 1500), 5s));
    EXPECT_FALSE(agent->log_mentions(finished));
    EXPECT_TRUE(holds(volume / "SETUP.SMI", pattern(500, 2)));

    const std::size_t from = next.received_count();
    next.send(R"({"command":"SearchDevice","device":"ZelPlus","server":")" + cloud.host() +
              R"(","userKey":")" + user_key + R"(","userSecret":")" + user_secret +
              R"(","id_memberProduct":0})");
    ASSERT_TRUE(next.wait_for_status(2, 5s, from));
    cloud.reply("/files/setup", http_reply::text(200, pattern(300, 7)));
    next.send(R"({"command":"RestoreDevice"})");
    EXPECT_TRUE(next.wait_for_message(finished, 10s, from));
    EXPECT_TRUE(holds(volume / "SETUP.SMI", pattern(300, 7)));
}

// The volume is a small tmpfs that only the agent sees, mounted in a mount namespace of
// its own; the test reaches it through the agent's /proc root.
TEST_F(PartnerFaults, VolumeFillingUpDuringAFullUpdateFailsItAndKeepsTheOldFile) {
    const std::string probe =
        "unshare -m sh -c 'mount -t tmpfs -o size=4k probe " + volume.path() + "' >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) {
        GTEST_SKIP() << "a tmpfs cannot be mounted in a private mount namespace here "
                        "(unshare -m and mount need root)";
    }
    test::agent_options options;
    options.environment = {{"ORVELSYNC_VOLUMES", volume.path()}};
    options.launcher = {"unshare",
                        "-m",
                        "sh",
                        "-c",
                        "mount -t tmpfs -o size=64k orvel-unit \"$0\" && exec \"$1\"",
                        volume.path()};
    agent = std::make_unique<test::agent_process>(options);
    agent->start();
    ASSERT_NE(agent->wait_for_port(), 0) << agent->terminal_output();
    const std::string unit = "/proc/" + std::to_string(agent->pid()) + "/root" + volume.path();
    test::write_file(unit + "SYSREG.SMI", "");
    test::write_file(unit + "EMBEDD01.GLF", pattern(4 * 1808, 1));
    test::write_file(unit + "SETUP.SMI", pattern(500, 2));
    ASSERT_TRUE(page.connect(agent->wait_for_port())) << page.failure();
    search("ZelPlus");
    ASSERT_TRUE(becomes(2));
    // Through the /proc root: paths made canonical would leave the agent's namespace.
    const auto contents = [&] {
        std::vector<std::pair<std::string, std::string>> files;
        for (const auto& entry : fs::directory_iterator(unit)) {
            const std::string name = entry.path().filename().string();
            files.emplace_back(name, entry.is_regular_file() ? test::read_file(unit + name) : "");
        }
        std::sort(files.begin(), files.end());
        return files;
    };
    const auto before = contents();

    cloud.reply("/files/setup", http_reply::text(200, pattern(100 * 1024, 8)));
    cloud.reply_rest("DeviceFullDataDetails",
                     http_reply::json(setup_answer(cloud.url("/files/setup"))));
    EXPECT_EQ(full_update(), coded(5, 600));
    EXPECT_EQ(contents(), before);
    EXPECT_TRUE(agent->log_mentions("No space left on device"));
    // The package, which replaces the course file, comes by the plain-socket download.
    cloud.reply("/files/package", http_reply::text(200, pattern(100 * 1024, 10)));
    cloud.reply_rest("DeviceFullDataDetails",
                     http_reply::json(files_answer("EMBEDD01.GLF", cloud.url("/files/package"))));
    EXPECT_EQ(full_update(), coded(5, 600));
    EXPECT_EQ(contents(), before);

    cloud.reply("/files/setup", http_reply::text(200, pattern(1000, 9)));
    cloud.reply_rest("DeviceFullDataDetails",
                     http_reply::json(setup_answer(cloud.url("/files/setup"))));
    cloud.reply_rest("DeviceFullDataConfirm", http_reply::json("{" + envelope + "}"));
    EXPECT_EQ(full_update(), finished);
    EXPECT_TRUE(holds(unit + "SETUP.SMI", pattern(1000, 9)));
}

}  // namespace
}  // namespace orvel::e2e

namespace orvel::serial_e2e {
namespace {

using test::hx62_faults;
using test::hx62_unit;

std::string hx62_course(unsigned id, const byte_vector& glf) {
    std::string answer = e2e::course_answer(id, 1, std::string(glf.begin(), glf.end()));
    return answer.insert(answer.size() - 1, R"(,"totalCourses":40)");
}

class Hx62Faults : public SerialAgent {
protected:
    hx62_unit first, second;
};

TEST_F(Hx62Faults, UnitBabblingOrPulledMidTransferFailsTheUpdateAndTheNextUnitIsServed) {
    start(first.port_entry() + ";" + second.port_entry());
    for (hx62_unit* unit : {&first, &second}) {
        unit->set_storage({{3, 0x4D000, 40000, 1000, 40}});
        unit->set_sector(77, pattern(4096, 1));
    }
    search("HXZelXS");

    hx62_faults faults;
    faults.garbled = true;
    faults.noise = byte_vector(300, 0x5A);
    first.set_faults(faults);
    EXPECT_EQ(update(5, hx62_course(5, pattern(1000, 2))), coded(5, 600));
    EXPECT_TRUE(first.written_sectors().empty());

    faults = hx62_faults{};
    faults.unplugged_after = 4;  // past the reads, among the writes
    first.set_faults(faults);
    cloud.reply_rest("DeviceCourseDataDetails",
                     test::http_reply::json(hx62_course(5, pattern(1000, 3))));
    send_update(5);
    const std::string end = e2e::operation_end(*page, mark, 20s);
    EXPECT_NE(end, finished);
    EXPECT_EQ(test::status_of(end), 5);

    // The pulled unit is gone from the port list; the other one takes the next update.
    const byte_vector course = pattern(1000, 4);
    EXPECT_EQ(update(5, hx62_course(5, course)), finished);
    const byte_vector written = second.sector(77);
    EXPECT_EQ(byte_vector(written.begin(), written.begin() + 1000), course);
}

}  // namespace
}  // namespace orvel::serial_e2e
