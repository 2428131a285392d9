#include "devices/usbdisk/nebro_device.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "base/failures.h"
#include "devices/usbdisk/tar_package_models.h"
#include "platform/memory_stream.h"
#include "support/byte_pattern.h"
#include "support/capture_logger.h"
#include "support/temp_folder.h"
#include "support/thrown_text.h"

namespace orvel {
namespace {

using test::little_endian;

using test::pattern;

using test::thrown_text;

namespace fs = std::filesystem;

// A 32-byte index entry, laid out here from its description.
std::string entry(std::uint32_t offset, std::uint16_t id, const std::string& folder,
                  const std::string& file, const std::string& names, std::uint16_t record) {
    std::string bytes = std::string(8, 'h') + little_endian(offset, 4) + little_endian(id, 2) +
                        std::string(18, '\0');
    bytes.replace(14, folder.size(), folder);
    bytes.replace(18, file.size(), file);
    bytes.replace(22, names.size(), names);
    bytes.replace(26, 2, little_endian(record, 2));
    return bytes;
}

class TarPackageDevice : public ::testing::Test {
protected:
    // The index header of the model's index file, and the index files after it.
    void library(const std::string& index_name, std::uint16_t count, std::uint16_t per_file) {
        fs::create_directories(volume / "idx");
        test::write_file(volume / "idx/" + index_name,
                         "HEAD" + little_endian(count, 2) + little_endian(per_file, 2));
    }

    void set_course(nebro_device& disk, const std::string& glf, std::int32_t index,
                    std::uint32_t id, bool custom, const std::string& name = "Course") {
        USBDiskCourse& record = disk.downloaded_course();
        record.glf.assign(glf.begin(), glf.end());
        record.index = index;
        record.id_course = id;
        record.custom = custom;
        record.course_name = name;
    }

    // A custom course's data as the service sends it: its head scrambled with key a, the
    // course id (low 16 bits) in bytes 8-9.
    std::string custom_course(nebro_device& disk, std::uint32_t id, std::uint16_t carried) {
        std::string glf = pattern(1808, 9);
        glf.replace(0, 8, "HEADHEAD");
        glf.replace(8, 2, little_endian(carried, 2));
        for (std::uint32_t i = 0; i < 10; ++i) {
            glf[i] = static_cast<char>(glf[i] ^ disk.key_a()[(id + i) % 33]);
        }
        return glf;
    }

    std::string descrambled_name(nebro_device& disk, const std::string& record, std::uint32_t id) {
        std::string plain = record;
        for (std::uint32_t d = 0; d < plain.size(); ++d) {
            plain[d] =
                static_cast<char>(plain[d] ^ disk.key_b()[d % 33] ^ disk.key_a()[(d + id) % 33]);
        }
        return plain;
    }

    test::temp_folder volume{"tar-unit"};
    empty_event never;
    test::capture_logger logger;
};

TEST_F(TarPackageDevice, StandardCourseGoesWhereItsEntryPointsAndItsNameIntoItsRecord) {
    library("nebro.idx", 40, 10);
    // Index 26 is k = 25: entry 5 of the index file "002"; the other entries point elsewhere.
    std::string index_file;
    for (std::uint16_t n = 0; n < 10; ++n) {
        index_file += n == 5 ? entry(3000, 777, "crs", "d02", "n01", 3)
                             : entry(100 * n, n, "crs", "other", "n09", n);
    }
    test::write_file(volume / "idx/002", index_file);
    fs::create_directories(volume / "crs");
    const std::string data_before(6000, '.');
    test::write_file(volume / "crs/d02", data_before);
    fs::create_directories(volume / "name");
    const std::string names_before = pattern(5 * 50, 4);
    test::write_file(volume / "name/n01", names_before);

    nebro_device disk(row_of("Nebro"), never);
    ASSERT_TRUE(disk.open(volume.path()));
    EXPECT_EQ(disk.course_count(), 40);
    EXPECT_EQ(disk.courses_per_file(), 10);
    const std::string glf = pattern(1808, 1);
    const std::string name = std::string(30, 'A') + std::string(30, 'B');  // 60 bytes
    set_course(disk, glf, 26, 70001, false, name);
    ASSERT_TRUE(disk.write_course());
    disk.close();

    std::string data = data_before;
    data.replace(3000, glf.size(), glf);
    EXPECT_EQ(test::read_file(volume / "crs/d02"), data);
    const std::string names = test::read_file(volume / "name/n01");
    ASSERT_EQ(names.size(), names_before.size());
    EXPECT_EQ(names.substr(0, 150), names_before.substr(0, 150));
    EXPECT_EQ(names.substr(200), names_before.substr(200));
    const std::string record = descrambled_name(disk, names.substr(150, 50), 70001);
    EXPECT_EQ(record.substr(0, 50), name.substr(0, 49) + '\0');
}

TEST_F(TarPackageDevice, CustomCourseGetsItsOwnEntryAndSlotInTheCustomFolder) {
    library("prang.idx", 40, 10);
    nebro_device disk(row_of("Prang"), never);
    ASSERT_TRUE(disk.open(volume.path()));
    // Index 43 is k = 42: custom course m = 2 after the 40 standard ones.
    const std::uint32_t id = 0x12345;  // the entry keeps the low 16 bits
    const std::string glf = custom_course(disk, id, 0x2345);
    set_course(disk, glf, 43, id, true);
    ASSERT_TRUE(disk.write_course());
    disk.close();

    std::string expected_entry = "HEADHEAD" + little_endian(3616, 4) + little_endian(0x2345, 2) +
                                 "cstm000" + std::string(11, '\0');
    const std::string index = test::read_file(volume / "cstm/cstm.idx");
    ASSERT_EQ(index.size(), 96u);
    EXPECT_EQ(index.substr(0, 64), std::string(64, '\0'));
    EXPECT_EQ(index.substr(64), expected_entry);
    const std::string data = test::read_file(volume / "cstm/000");
    ASSERT_EQ(data.size(), 3616u + 1808u);
    EXPECT_EQ(data.substr(3616), glf);
    EXPECT_FALSE(fs::exists(volume / "name"));
}

TEST_F(TarPackageDevice, CoursesThatDoNotFitTheLibraryAreRefusedBeforeAnythingIsWritten) {
    library("nebro.idx", 40, 10);
    nebro_device disk(row_of("Nebro"), never);
    ASSERT_TRUE(disk.open(volume.path()));

    set_course(disk, custom_course(disk, 5, 5), 40, 5, true);  // k = 39 is a standard slot
    EXPECT_EQ(thrown_text([&] { disk.write_course(); }), "Incompatible bCustom and glf_idx values");
    EXPECT_TRUE(logger.contains("bCustom = 1, glf_idx = 39, m_courseCount = 40"));
    set_course(disk, pattern(1808, 2), 41, 5, false);  // k = 40 is past the standard ones
    EXPECT_EQ(thrown_text([&] { disk.write_course(); }), "Incompatible bCustom and glf_idx values");
    EXPECT_TRUE(logger.contains("bCustom = 0, glf_idx = 40, m_courseCount = 40"));

    set_course(disk, custom_course(disk, 5, 6), 41, 5, true);
    EXPECT_EQ(thrown_text([&] { disk.write_course(); }), "Incorrect course id.");
    EXPECT_TRUE(logger.contains("Expected couse id: 5. Downloaded course id: 6\r\n"));
    // A course longer than its slot would run into the next member's course.
    set_course(disk, custom_course(disk, 5, 5) + "x", 41, 5, true);
    EXPECT_EQ(thrown_text([&] { disk.write_course(); }),
              "A custom course of 1809 bytes at index 40 does not fit a 1808-byte slot of the "
              "custom data file");
    EXPECT_FALSE(fs::exists(volume / "cstm"));

    // An entry from the package that points off the volume.
    test::write_file(volume / "idx/000", entry(0, 1, "..", "x", "", 0));
    set_course(disk, pattern(100, 3), 1, 1, false);
    EXPECT_EQ(thrown_text([&] { disk.write_course(); }),
              "Course data file ../x is not below " + volume.path());

    // No standard course can be found without a number of entries per index file.
    library("nebro.idx", 40, 0);
    ASSERT_TRUE(disk.open(volume.path()));
    set_course(disk, pattern(100, 3), 1, 1, false);
    EXPECT_EQ(thrown_text([&] { disk.write_course(); }),
              "The index header " + volume / "idx/nebro.idx" + " gives 0 courses per index file");

    EXPECT_EQ(thrown_text([&] { nebro_device(row_of("Nebro"), never).open(volume / "absent/"); }),
              "File (" + volume / "absent/idx/nebro.idx" + ") doesn't exist");
}

TEST_F(TarPackageDevice, NameRecordsOnlyWhereTheEntryNamesAFileAndTheModelKeepsThem) {
    library("nebro.idx", 2, 2);
    library("prang.idx", 2, 2);
    fs::create_directories(volume / "d");
    test::write_file(volume / "d/f", std::string(100, '.'));
    fs::create_directories(volume / "name");
    test::write_file(volume / "name/n", std::string(100, '.'));
    test::write_file(volume / "idx/000",
                     entry(0, 1, "d", "f", "", 0) + entry(50, 2, "d", "f", "n", 1));

    nebro_device nebro(row_of("Nebro"), never);
    ASSERT_TRUE(nebro.open(volume.path()));
    set_course(nebro, "first", 1, 1, false);
    ASSERT_TRUE(nebro.write_course());
    EXPECT_EQ(test::read_file(volume / "name/n"), std::string(100, '.'));
    nebro.close();

    nebro_device prang(row_of("Prang"), never);
    ASSERT_TRUE(prang.open(volume.path()));
    set_course(prang, "second", 2, 2, false);
    ASSERT_TRUE(prang.write_course());
    prang.close();
    EXPECT_EQ(test::read_file(volume / "name/n"), std::string(100, '.'));
    EXPECT_EQ(test::read_file(volume / "d/f").substr(0, 56),
              "first" + std::string(45, '.') + "second");

    // A record beyond the name file is not there to be replaced.
    test::write_file(volume / "idx/000", entry(0, 1, "d", "f", "n", 2));
    ASSERT_TRUE(nebro.open(volume.path()));
    set_course(nebro, "third", 1, 1, false);
    EXPECT_EQ(thrown_text([&] { nebro.write_course(); }),
              "read failed: EOF (" + volume / "name/n" + ")");
}

TEST_F(TarPackageDevice, UzoTakesOnlyCoursesOfItsSetupType) {
    library("uzo.idx", 1, 1);
    test::write_file(volume / "idx/000", entry(0, 1, "d", "f", "", 0));
    fs::create_directories(volume / "d");
    test::write_file(volume / "d/f", "....");

    const auto code_of = [](const std::function<void()>& action) {
        try {
            action();
        } catch (const extl_exception& e) {
            return code_value(e.code());
        }
        return 0u;
    };
    nebro_device uzo(row_of("Uzo"), never);
    EXPECT_EQ(code_of([&] { uzo.open(volume.path()); }), 201u);
    test::write_file(volume / "uzo.setup", "");
    EXPECT_EQ(code_of([&] { uzo.open(volume.path()); }), 201u);
    test::write_file(volume / "uzo.setup", "B rest of the set-up");
    ASSERT_TRUE(uzo.open(volume.path()));
    for (const char* type : {"", "A", "BB", "b"}) {
        set_course(uzo, "ab", 1, 1, false);
        uzo.downloaded_course().setupType = type;
        EXPECT_EQ(code_of([&] { uzo.write_course(); }), 604u) << type;
    }
    EXPECT_EQ(test::read_file(volume / "d/f"), "....");
    set_course(uzo, "ab", 1, 1, false);
    uzo.downloaded_course().setupType = "B";
    EXPECT_TRUE(uzo.write_course());
    EXPECT_EQ(test::read_file(volume / "d/f"), "ab..");

    // The same check before the files of a full update or restore are downloaded.
    nebro_connection connection(row_of("Uzo"), {}, never);
    USBDiskRestoreResponse answer;
    answer.files = {"uzo.tar"};
    answer.urls = {"http://127.0.0.1:1/never"};
    memory_stream response;
    request_context request{response, connection.settings()};
    answer.setupType = "A";
    EXPECT_EQ(code_of([&] { connection.download_files(request, answer, volume.path()); }), 604u);
    fs::remove(volume / "uzo.setup");
    fs::create_directory(volume / "uzo.setup");  // still marks the volume, holds no byte
    answer.setupType = "B";
    EXPECT_EQ(code_of([&] { connection.download_files(request, answer, volume.path()); }), 201u);
}

TEST_F(TarPackageDevice, CheckCourseDataLogsTheNameTheScrambledDataCarries) {
    nebro_device disk(row_of("Quorvanda"), never);
    const std::uint32_t id = 4242;
    std::string data = pattern(10, 1) + "Old Course" + std::string(40, '\0') + pattern(30, 2);
    for (std::uint32_t j = 0; j < 50; ++j) {
        data[10 + j] = static_cast<char>(data[10 + j] ^ disk.key_b()[j % 33]);
    }
    for (std::uint32_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(data[i] ^ disk.key_a()[(i + id) % 33]);
    }
    disk.check_course_data(id, byte_vector(data.begin(), data.end()));
    EXPECT_TRUE(logger.contains("Old Course"));
    logger.clear();
    disk.check_course_data(id, byte_vector(data.begin(), data.begin() + 14));  // short data
    EXPECT_TRUE(logger.contains("Old "));
}

}  // namespace
}  // namespace orvel
