#include "devices/usbdisk/usbdisk_device.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/failures.h"
#include "base/format.h"
#include "devices/usbdisk/file_models.h"
#include "support/capture_logger.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

std::string pattern(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(seed + i % 251);
    }
    return bytes;
}

void set_course(USBDiskDevice& disk, const std::string& glf, std::int32_t index, std::uint32_t id,
                const std::string& gls = "") {
    USBDiskCourse& record = disk.downloaded_course();
    record.glf.assign(glf.begin(), glf.end());
    record.glsData.assign(gls.begin(), gls.end());
    record.index = index;
    record.id_course = id;
}

// A JTC course image: 10 bytes of head, the name in a 90-byte field, then the rest.
std::string jtc_course(const std::string& name, char fill = 'c') {
    std::string image(300, fill);
    std::string field = name.substr(0, 90);
    field.resize(90, '\0');
    image.replace(10, 90, field);
    return image;
}

class USBDiskDeviceTest : public ::testing::Test {
protected:
    test::temp_folder volume;
    empty_event never;
    test::capture_logger logger;
};

TEST_F(USBDiskDeviceTest, CourseLandsInItsSlotAndTheRestOfTheFileIsKept) {
    const std::string before(4 * 1808 + 100, '\xEE');
    test::write_file(volume / "EMBEDD01.GLF", before);
    USBDiskDevice disk(row_of("ZelPlus"), never);
    ASSERT_TRUE(disk.open(volume.path()));
    EXPECT_TRUE(logger.contains("Device " + volume.path() + "\r\n"));
    EXPECT_EQ(disk.root(), volume.path());
    const std::string course = pattern(1808, 'a');
    set_course(disk, course, 3, 12345);
    ASSERT_TRUE(disk.write_course());
    EXPECT_EQ(disk.downloaded_course().index, 2);
    disk.close();
    EXPECT_TRUE(disk.root().empty());
    EXPECT_FALSE(disk.is_open());

    std::string expected = before;
    expected.replace(3616, 1808, course);
    EXPECT_EQ(test::read_file(volume / "EMBEDD01.GLF"), expected);
    EXPECT_FALSE(fs::exists(volume / "12345.GLS"));
}

TEST_F(USBDiskDeviceTest, SideFileIsNamedByTheCourseIdAndReplaced) {
    test::write_file(volume / "EMBEDD01.GLF", std::string(10, '\0'));
    test::write_file(volume / "12345.GLS", std::string(5000, 'o'));
    USBDiskDevice disk(row_of("JTCPlus"), never);
    ASSERT_TRUE(disk.open(volume.path()));
    set_course(disk, "abcd", 1, 12345, "side data");
    ASSERT_TRUE(disk.write_course());
    EXPECT_EQ(test::read_file(volume / "12345.GLS"), "side data");
    // Slot 0 takes index 1; a course past the end lengthens the file.
    set_course(disk, "wxyz", 4, 7);
    ASSERT_TRUE(disk.write_course());
    disk.close();
    EXPECT_EQ(test::read_file(volume / "EMBEDD01.GLF"),
              std::string("abcd") + std::string(6, '\0') + std::string(2, '\0') + "wxyz");
}

TEST_F(USBDiskDeviceTest, IndexZeroIsRefusedAndAMissingCourseFileDoesNotOpen) {
    test::write_file(volume / "EMBEDD01.GLF", "unchanged");
    USBDiskDevice disk(row_of("KM3"), never);
    ASSERT_TRUE(disk.open(volume.path()));
    set_course(disk, "data", 0, 1);
    EXPECT_FALSE(disk.write_course());
    disk.close();
    EXPECT_EQ(test::read_file(volume / "EMBEDD01.GLF"), "unchanged");

    test::temp_folder empty;
    try {
        disk.open(empty.path());
        FAIL();
    } catch (const intl_exception& e) {
        EXPECT_EQ(e.message(), "File (" + empty.path() + "EMBEDD01.GLF) doesn't exist");
    }
}

TEST_F(USBDiskDeviceTest, JtcOverwritesTheFileThatCarriesTheCourseName) {
    test::write_file(volume / "KVINC000.GLF", jtc_course("Other Links"));
    test::write_file(volume / "KVINC002.GLF", jtc_course("Pine Valley", 'o'));
    JTCDevice disk(row_of("JTC"), never);
    ASSERT_TRUE(disk.open(volume.path()));
    EXPECT_TRUE(disk.is_ready());
    const std::string course = jtc_course("Pine Valley", 'n');
    set_course(disk, course, 1, 5);
    ASSERT_TRUE(disk.write_course());
    disk.close();
    EXPECT_EQ(test::read_file(volume / "KVINC002.GLF"), course);
    EXPECT_EQ(test::read_file(volume / "KVINC000.GLF"), jtc_course("Other Links"));
    EXPECT_FALSE(fs::exists(volume / "KVINC001.GLF"));
}

TEST_F(USBDiskDeviceTest, JtcWritesANewCourseToTheLowestFreeNumber) {
    test::write_file(volume / "KVINC000.GLF", jtc_course("Other Links"));
    test::write_file(volume / "KVINC002.GLF", "short");  // unreadable: skipped, not free
    fs::create_directory(volume / "KVINC003.GLF");       // a folder is no course file
    JTCDevice disk(row_of("JTC"), never);
    ASSERT_TRUE(disk.open(volume.path()));
    const std::string course = jtc_course("Pine Valley");
    set_course(disk, course, 1, 5);
    ASSERT_TRUE(disk.write_course());
    disk.close();
    EXPECT_EQ(test::read_file(volume / "KVINC001.GLF"), course);
    EXPECT_EQ(test::read_file(volume / "KVINC002.GLF"), "short");
    EXPECT_TRUE(fs::is_directory(volume / "KVINC003.GLF"));
    EXPECT_TRUE(logger.mentions("read failed: EOF (" + volume.path() + "KVINC002.GLF)"));
}

TEST_F(USBDiskDeviceTest, JtcFolderInTheFreeSlotFailsTheWriteInsteadOfReportingSuccess) {
    // The lowest number that holds no course file is taken even when a folder sits there;
    // the unit is left as it was and the failure reaches the caller.
    fs::create_directory(volume / "KVINC000.GLF");
    JTCDevice disk(row_of("JTC"), never);
    ASSERT_TRUE(disk.open(volume.path()));
    set_course(disk, jtc_course("Pine Valley"), 1, 5);
    try {
        disk.write_course();
        FAIL();
    } catch (const intl_exception& e) {
        EXPECT_EQ(e.message().rfind("create failed: ", 0), 0u) << e.message();
    }
    EXPECT_TRUE(fs::is_directory(volume / "KVINC000.GLF"));
    EXPECT_FALSE(fs::exists(volume / "KVINC001.GLF"));
}

TEST_F(USBDiskDeviceTest, JtcComparesANameThatFillsItsFieldByAllNinetyBytes) {
    const std::string long_name(90, 'L');
    test::write_file(volume / "KVINC000.GLF", jtc_course(long_name.substr(0, 89) + "X"));
    test::write_file(volume / "KVINC001.GLF", jtc_course(long_name));
    JTCDevice disk(row_of("JTC"), never);
    ASSERT_TRUE(disk.open(volume.path()));
    const std::string course = jtc_course(long_name, 'z');
    set_course(disk, course, 1, 5);
    ASSERT_TRUE(disk.write_course());
    disk.close();
    EXPECT_EQ(test::read_file(volume / "KVINC001.GLF"), course);
}

TEST_F(USBDiskDeviceTest, JtcWithAllHundredFilesTakenByOthersFailsWith1000) {
    for (unsigned n = 0; n < 100; ++n) {
        test::write_file(volume / format_text("KVINC%03u.GLF", n),
                         jtc_course("Course " + std::to_string(n)));
    }
    JTCDevice disk(row_of("JTC"), never);
    ASSERT_TRUE(disk.open(volume.path()));
    set_course(disk, jtc_course("Pine Valley"), 1, 5);
    try {
        disk.write_course();
        FAIL();
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.code(), sync_error_code::device_protocol);
    }
}

}  // namespace
}  // namespace orvel
