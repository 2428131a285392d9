// USB-disk units end to end: the built agent takes folders as attached volumes, fetches its
// courses from the test cloud and writes them as the unit's files, and the page sees it all.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/agent_process.h"
#include "support/capture_logger.h"
#include "support/page_client.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

namespace orvel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string user_key = "member-key";
const std::string user_secret = "member-secret";

// Bytes that differ from slot to slot, so a course in the wrong place shows.
std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((seed * 31 + i * 7) % 256);
    }
    return bytes;
}

// A JTC course image: a 10-byte head, the name in a 90-byte field, then course data.
std::string jtc_course(const std::string& name, char fill) {
    std::string image(400, fill);
    std::string field = name;
    field.resize(90, '\0');
    image.replace(10, 90, field);
    return image;
}

std::string course_answer(unsigned id, int index, const std::string& glf,
                          const std::optional<std::string>& gls = std::nullopt) {
    std::string answer = R"({"Status":1,"ErrorMessage":"","glfCourse":{"index":)" +
                         std::to_string(index) + R"(,"glf":")" + test::reference_base64(glf) +
                         R"("},"id_course":)" + std::to_string(id) + R"(,"courseName":"Course )" +
                         std::to_string(id) + "\"";
    if (gls) {
        answer += R"(,"glsData":")" + test::reference_base64(*gls) + "\"";
    }
    return answer + "}";
}

// The unit's file as expected; on a mismatch, where it starts (the files are binary).
::testing::AssertionResult holds(const std::string& path, const std::string& expected) {
    const std::string actual = test::read_file(path);
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    return ::testing::AssertionFailure()
           << path << ": " << actual.size() << " bytes, " << expected.size()
           << " expected, first difference at " << at;
}

std::string coded(int status, unsigned code) {
    return "{\"Status\":" + std::to_string(status) + ", \"Code\":" + std::to_string(code) + "}";
}

const std::string finished = "{\"Status\":4, \"EjectNeeded\":1}";

class UsbDiskAgent : public ::testing::Test {
protected:
    UsbDiskAgent() { cloud.add_user(user_key, user_secret); }

    // Starts the agent with the folders as its volumes, in this order, and opens the page.
    void start(const std::string& volume_list) {
        test::agent_options options;
        options.environment = {{"ORVELSYNC_VOLUMES", volume_list}};
        agent = std::make_unique<test::agent_process>(options);
        agent->start();
        const std::uint16_t port = agent->wait_for_port();
        ASSERT_NE(port, 0);
        ASSERT_TRUE(page.connect(port)) << page.failure();
        ASSERT_TRUE(page.wait_for_status(0));
    }

    // Member product 0: a failure sends no log upload, which is beside the point here.
    void search(const std::string& model) {
        mark = page.received_count();
        page.send(R"({"command":"SearchDevice","device":")" + model + R"(","server":")" +
                  cloud.host() + R"(","userKey":")" + user_key + R"(","userSecret":")" +
                  user_secret + R"(","id_memberProduct":0})");
        ASSERT_TRUE(page.wait_for_status(1, 5s, mark)) << model;
    }

    // The status that ends the command: its Data text, or "" when none came.
    std::string run(const std::string& command, const std::string& extra = "") {
        mark = page.received_count();
        page.send(R"({"command":")" + command + "\"" + extra + "}");
        const std::size_t from = mark;
        std::string end;
        page.wait_for(
            [&](const std::vector<std::string>& lines) {
                for (std::size_t i = from; i < lines.size(); ++i) {
                    const std::string message = test::message_of_line(lines[i]);
                    const std::optional<int> status = test::status_of(message);
                    if (status && *status != 3 && *status != 2) {
                        end = message;
                        return true;
                    }
                }
                return false;
            },
            10s);
        return end;
    }

    // Serves the course, sends "UpdateCourse" for it and answers the ending status.
    std::string update(unsigned id, const std::string& answer) {
        cloud.reply_rest("DeviceCourseDataDetails", test::http_reply::json(answer));
        const std::string end =
            run("UpdateCourse", R"(,"courseCode":")" + std::to_string(id) + "\"");
        if (end == finished) {
            EXPECT_TRUE(page.wait_for_status(3, 1s, mark)) << "no Status 3 before the end";
        }
        return end;
    }

    bool becomes(int status) { return page.wait_for_status(status, 5s, mark).has_value(); }
    // The presence poll runs every 100 ms; five passes without a change count as none.
    bool stays_without(int status) { return !page.wait_for_status(status, 500ms, mark); }

    test::test_http_server cloud;
    test::temp_folder volume{"unit"};
    std::unique_ptr<test::agent_process> agent;
    test::page_client page;
    std::size_t mark = 0;
};

TEST_F(UsbDiskAgent, ZelPlusIsFoundByItsMarkerTakesCoursesInSlotsAndEjects) {
    start(volume.path());
    search("ZelPlus");
    EXPECT_TRUE(stays_without(2));
    EXPECT_EQ(run("EjectDevice"), coded(5, 1400));
    EXPECT_TRUE(agent->log_mentions("Can't find file SYSREG.SMI"));

    mark = page.received_count();
    test::write_file(volume / "SYSREG.SMI", "");
    ASSERT_TRUE(becomes(2));

    // The unit without its course data file cannot be opened.
    EXPECT_EQ(update(12345, course_answer(12345, 3, pattern(1808, 1))), coded(5, 200));

    const std::string before = pattern(4 * 1808 + 100, 9);
    test::write_file(volume / "EMBEDD01.GLF", before);
    test::write_file(volume / "12345.GLS", std::string(3000, 'o'));
    const std::string course = pattern(1808, 3);
    EXPECT_EQ(update(12345, course_answer(12345, 3, course, std::string("side data"))), finished);
    std::string expected = before;
    expected.replace(3616, 1808, course);
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", expected));
    EXPECT_TRUE(holds(volume / "12345.GLS", "side data"));  // replaced, not patched
    const auto asked = cloud.requests();
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back().action, "DeviceCourseDataDetails");
    EXPECT_EQ(asked.back().body, "{\"id_course\":\"12345\",\"id_relationship\":0}\n");

    const std::string second = pattern(1808, 4);
    EXPECT_EQ(update(777, course_answer(777, 1, second)), finished);
    expected.replace(0, 1808, second);
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", expected));
    EXPECT_FALSE(fs::exists(volume / "777.GLS"));

    EXPECT_EQ(update(778, course_answer(778, 0, pattern(1808, 5))), coded(5, 600));
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", expected));

    EXPECT_EQ(run("EjectDevice"), "{\"Status\":1}");
    EXPECT_TRUE(agent->log_mentions("Device " + volume.path() + "\r\n"));

    mark = page.received_count();
    fs::remove(volume / "SYSREG.SMI");
    EXPECT_TRUE(becomes(1));
    EXPECT_EQ(run("EjectDevice"), coded(5, 1400));
}

TEST_F(UsbDiskAgent, JtcChoosesItsCourseFileByNameAndJtcPlusUsesTheSlots) {
    const std::string slots = pattern(3 * 400, 7);
    test::write_file(volume / "SYSREG.SMI", "");
    test::write_file(volume / "EMBEDD01.GLF", slots);
    const std::string other = jtc_course("Other Links", 'x');
    test::write_file(volume / "KVINC000.GLF", other);
    test::write_file(volume / "KVINC002.GLF", jtc_course("Pine Valley", 'o'));
    start(volume.path());
    search("JTC");
    ASSERT_TRUE(becomes(2));

    const std::string course = jtc_course("Pine Valley", 'n');
    EXPECT_EQ(update(5, course_answer(5, 2, course)), finished);
    EXPECT_TRUE(holds(volume / "KVINC002.GLF", course));
    EXPECT_TRUE(holds(volume / "KVINC000.GLF", other));
    EXPECT_FALSE(fs::exists(volume / "KVINC001.GLF"));
    // "JTC" is not taken for "JTCPlus", which would have written the course's slot.
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", slots));

    fs::remove(volume / "KVINC002.GLF");
    EXPECT_EQ(update(5, course_answer(5, 2, course)), finished);
    EXPECT_TRUE(holds(volume / "KVINC001.GLF", course));
    EXPECT_FALSE(fs::exists(volume / "KVINC002.GLF"));

    for (unsigned n = 0; n < 100; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "KVINC%03u.GLF", n);
        test::write_file(volume / name, jtc_course("Course " + std::to_string(n), 'x'));
    }
    EXPECT_EQ(update(5, course_answer(5, 2, course)), coded(5, 1000));

    search("JTCPlus");
    ASSERT_TRUE(becomes(2));
    EXPECT_EQ(update(5, course_answer(5, 2, course)), finished);
    std::string expected = slots;
    expected.replace(400, 400, course);
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", expected));
    EXPECT_TRUE(holds(volume / "KVINC000.GLF", jtc_course("Course 0", 'x')));
}

TEST_F(UsbDiskAgent, Km3IsTheFirstVolumeWithBrevantoExe) {
    test::temp_folder later{"unit-b"};
    const std::string untouched = pattern(800, 2);
    test::write_file(volume / "SETUP.KM3", std::string(100, 's'));
    test::write_file(volume / "EMBEDD01.GLF", untouched);
    test::write_file(later / "EMBEDD01.GLF", untouched);
    start(volume.path() + ":" + later.path());
    search("KM3");
    EXPECT_TRUE(stays_without(2));  // a set-up file alone is no Brevanto unit

    mark = page.received_count();
    test::write_file(later / "Brevanto.exe", "");
    ASSERT_TRUE(becomes(2));
    const std::string course = pattern(400, 8);
    EXPECT_EQ(update(41, course_answer(41, 1, course)), finished);
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", untouched));
    EXPECT_TRUE(holds(later / "EMBEDD01.GLF", course + untouched.substr(400)));

    // Both volumes are units now: the first in the list is the one.
    fs::create_directory(volume / "Brevanto.exe");
    EXPECT_EQ(update(41, course_answer(41, 2, course)), finished);
    EXPECT_TRUE(holds(volume / "EMBEDD01.GLF", untouched.substr(0, 400) + course));
}

}  // namespace
}  // namespace orvel
