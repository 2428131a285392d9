// USB-disk units end to end: the built agent takes folders as attached volumes, fetches its
// courses from the test cloud and writes them as the unit's files, and the page sees it all.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "e2e/usbdisk_agent.h"

namespace orvel::e2e {
namespace {

namespace fs = std::filesystem;

// A JTC course image: a 10-byte head, the name in a 90-byte field, then course data.
std::string jtc_course(const std::string& name, char fill) {
    std::string image(400, fill);
    std::string field = name;
    field.resize(90, '\0');
    image.replace(10, 90, field);
    return image;
}

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
}  // namespace orvel::e2e
