// HX62 units end to end: the built agent finds the simulated unit's port by its bridge name,
// fetches courses from the test cloud and writes them into the unit's flash sectors.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/serial_agent.h"
#include "sim/hx62_unit.h"

namespace orvel {
namespace {

using namespace serial_e2e;
using test::hx62_faults;
using test::hx62_unit;

std::string course_answer(unsigned id, int index, const byte_vector& glf, int total,
                          const std::string& extra = "") {
    return R"({"Status":1,"ErrorMessage":"","glfCourse":{"index":)" + std::to_string(index) +
           R"(,"glf":")" + base64(glf) + R"("},"id_course":)" + std::to_string(id) +
           R"(,"courseName":"Course )" + std::to_string(id) + R"(","totalCourses":)" +
           std::to_string(total) + extra + "}";
}

// The sector with bytes replaced from offset on.
byte_vector with(byte_vector sector, std::size_t offset, const byte_vector& bytes,
                 std::size_t from = 0, std::size_t count = std::string::npos) {
    count = std::min(count, bytes.size() - from);
    std::copy(bytes.begin() + from, bytes.begin() + from + count, sector.begin() + offset);
    return sector;
}

class Hx62Agent : public serial_e2e::SerialAgent {
protected:
    hx62_unit unit;
};

TEST_F(Hx62Agent, CoursesLandInTheirSectorsOnTheBridgeOfTheirKind) {
    // A Prolific bridge listed first is not an HX62 unit's: it must never hear from us.
    std::atomic<std::size_t> prolific_bytes{0};
    test::pty_line prolific(
        [&](const std::uint8_t*, std::size_t count) { prolific_bytes += count; });
    start(prolific.port_entry("Prolific USB-to-Serial Comm Port") + ";" + unit.port_entry());
    unit.set_storage({{3, 0x4D000, 40000, 1000, 40}});
    const byte_vector sector51 = unit.sector(51);
    const byte_vector before77 = pattern(4096, 1);
    const byte_vector before78 = pattern(4096, 2);
    const byte_vector before52 = pattern(4096, 3);
    unit.set_sector(77, before77);
    unit.set_sector(78, before78);
    unit.set_sector(52, before52);
    search("HXZelX");

    const byte_vector first = pattern(1000, 4);
    EXPECT_EQ(update(501, course_answer(501, 1, first, 40)), finished);
    EXPECT_EQ(unit.sector(77), with(before77, 0, first));
    EXPECT_TRUE(agent->log_mentions("Serial port device: " + unit.port_path()));
    EXPECT_TRUE(agent->log_mentions("Updated and downloaded courses are the same"));

    // Index 5 of 1000-byte records starts at 4000: 96 bytes in 77, the rest at 78's start.
    const byte_vector fifth = pattern(1000, 5);
    EXPECT_EQ(update(505, course_answer(505, 5, fifth, 40)), finished);
    EXPECT_EQ(unit.sector(77), with(with(before77, 0, first), 4000, fifth, 0, 96));
    EXPECT_EQ(unit.sector(78), with(before78, 0, fifth, 96));

    const byte_vector custom = pattern(1000, 6);
    EXPECT_EQ(update(9001, course_answer(9001, 1, custom, 40, R"(,"bCustom":1)")), finished);
    EXPECT_EQ(unit.sector(52), with(before52, 0, custom));

    EXPECT_EQ(unit.written_sectors(), (std::vector<std::uint32_t>{77, 78, 52}));
    EXPECT_EQ(unit.sector(51), sector51);
    EXPECT_EQ(prolific_bytes.load(), 0u);
}

TEST_F(Hx62Agent, StorageBlockFromTheServiceReplacesTheUnitsOnlyWhenSound) {
    start(unit.port_entry());
    unit.set_storage({{3, 0x4D000, 20000, 500, 40}});
    search("HXZelPlus");

    EXPECT_EQ(update(7, course_answer(7, 2, pattern(600, 1), 40)), coded(5, 600));
    EXPECT_TRUE(agent->log_mentions("Wrong glf size: 500, not 600"));
    const std::string gstg_only = R"(,"sector51":")" + base64({'G', 'S', 'T', 'G'}) + "\"";
    EXPECT_EQ(update(7, course_answer(7, 2, pattern(500, 1), 40, gstg_only)), coded(5, 600));
    EXPECT_TRUE(agent->log_mentions("Wrong storage format"));
    // Blocks that lay courses past the sectors the unit's 40 records own (77 to 81), or
    // across their neighbours.
    const std::pair<test::hx62_storage_entry, std::string> unsound[] = {
        {{4, 0x4D000, 20500, 500, 41},
         "Storage block of 41 records of 500 bytes reaches "
         "sector 82, the unit's course area ends at sector 81"},
        {{4, 0x4D000, 16000, 400, 40}, "Storage block's record size 400 is not the course's 500"}};
    for (const auto& [entry, line] : unsound) {
        const std::string block = base64(hx62_unit::storage_block({entry}));
        EXPECT_EQ(
            update(7, course_answer(7, 2, pattern(500, 1), 40, R"(,"sector51":")" + block + "\"")),
            coded(5, 600));
        EXPECT_TRUE(agent->log_mentions(line)) << line;
    }
    EXPECT_TRUE(unit.written_sectors().empty());

    const byte_vector block = hx62_unit::storage_block({{4, 0x4E000, 20000, 500, 40}});
    const byte_vector course = pattern(500, 2);
    EXPECT_EQ(update(7, course_answer(7, 2, course, 40, R"(,"sector51":")" + base64(block) + "\"")),
              finished);
    EXPECT_EQ(unit.sector(51), with(byte_vector(4096, 0xFF), 0, block));
    const byte_vector sector77 = unit.sector(77);
    EXPECT_EQ(byte_vector(sector77.begin() + 500, sector77.begin() + 1000), course);
    EXPECT_EQ(unit.written_sectors(), (std::vector<std::uint32_t>{77, 51}));
}

TEST_F(Hx62Agent, CourseCountMismatchIsRepairedOnceAndTheUpdateRepeated) {
    start(unit.port_entry());
    unit.set_storage({{3, 0x4D000, 40000, 1000, 40}});
    search("HXBrevanto");
    cloud.reply_rest("CourseSyncIndexRestore",
                     test::http_reply::json(R"({"Status":1,"ErrorMessage":""})"));
    const byte_vector course = pattern(1000, 7);
    // The first answer counts 39 courses, the one after the repair the unit's 40.
    std::atomic<int> answers{0};
    cloud.handle_rest("DeviceCourseDataDetails", [&](const test::recorded_request&) {
        return test::http_reply::json(course_answer(61, 1, course, answers++ == 0 ? 39 : 40));
    });
    send_update(61);
    EXPECT_EQ(finish(), finished);
    EXPECT_TRUE(
        agent->log_mentions("Wrong course count: 40, not 39. Wrong sync index or device type?"));
    std::vector<std::string> repairs;
    for (const test::recorded_request& request : cloud.requests()) {
        if (request.action == "CourseSyncIndexRestore") {
            repairs.push_back(request.body);
        }
    }
    ASSERT_EQ(repairs.size(), 1u);
    EXPECT_NE(repairs[0].find("\"courseCount\":40"), std::string::npos) << repairs[0];
    EXPECT_EQ(answers.load(), 2);
    EXPECT_EQ(unit.sector(77), with(byte_vector(4096, 0xFF), 0, course));

    // A custom course cannot have its count repaired.
    EXPECT_EQ(update(62, course_answer(62, 1, course, 41, R"(,"bCustom":1)")), coded(5, 1101));
    EXPECT_TRUE(agent->log_mentions("Can't restore sync index type for the custom course"));
}

TEST_F(Hx62Agent, UnitThatFailsItsWriteOrStaysSilentEndsTheUpdateWith600) {
    start(unit.port_entry());
    unit.set_storage({{3, 0x4D000, 40000, 1000, 40}});
    search("HXQuillan");
    const byte_vector course = pattern(1000, 8);
    hx62_faults faults;

    faults.store_status = 1;
    unit.set_faults(faults);
    EXPECT_EQ(update(3, course_answer(3, 1, course, 40)), coded(5, 600));
    EXPECT_TRUE(agent->log_mentions("Failed to write sector with updated course: 1"));

    faults = hx62_faults{};
    faults.corrupt_store_offset = 10;
    unit.set_faults(faults);
    EXPECT_EQ(update(3, course_answer(3, 1, course, 40)), coded(5, 600));
    EXPECT_TRUE(agent->log_mentions("Updated and downloaded courses are different"));

    faults = hx62_faults{};
    faults.silent = true;
    unit.set_faults(faults);
    const std::size_t sends_before = agent->log_count("trying to send #0");
    EXPECT_EQ(update(3, course_answer(3, 1, course, 40)), coded(5, 600));
    EXPECT_EQ(agent->log_count("trying to send #0") - sends_before, 3u);
    EXPECT_TRUE(agent->log_mentions("Can't read storage"));
}

TEST_F(Hx62Agent, PageClosingDuringATransferEndsItWith1500AndTheAgentServesOn) {
    start(unit.port_entry());
    unit.set_storage({{3, 0x4D000, 40000, 1000, 40}});
    search("HXZelXS");
    cloud.reply_rest("DeviceCourseDataDetails",
                     test::http_reply::json(course_answer(5, 1, pattern(1000, 9), 40)));
    send_update(5);
    ASSERT_TRUE(page->wait_for_message("Sector: 77, Offsett: 0, Size: 1000", 10s, mark));
    page->close();
    EXPECT_TRUE(agent->wait_for_log(coded(5, 1500), 10s));

    open_page();
    search("HXZelXS");
    const byte_vector course = pattern(1000, 10);
    EXPECT_EQ(update(5, course_answer(5, 1, course, 40)), finished);
    const byte_vector sector77 = unit.sector(77);
    EXPECT_EQ(byte_vector(sector77.begin(), sector77.begin() + 1000), course);
}

}  // namespace
}  // namespace orvel
