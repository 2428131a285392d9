// An HX62 unit driven through a real port against the simulated unit: replies that arrive
// broken up or not at all, interrupts, and course writes the unit must never receive.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "base/failures.h"
#include "devices/model_keys.h"
#include "devices/serial/hx62_course_name.h"
#include "devices/serial/hx62_device.h"
#include "sim/hx62_unit.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

using namespace std::chrono_literals;
using test::hx62_faults;
using test::hx62_unit;

byte_vector pattern(std::size_t size, unsigned seed) {
    byte_vector bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
    }
    return bytes;
}

class Hx62Device : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(device.open(unit.port_path())); }

    // The course the service sent, as the device holds it after the parse.
    void downloaded(std::int32_t index, std::size_t size, std::int32_t total) {
        HX62Course& course = device.downloaded_course();
        course.id_course = 4242;
        course.course_name = "Links";
        course.index = index;
        course.glf = pattern(size, 5);
        course.totalCourses = total;
    }

    hx62_unit unit;
    event interrupt;
    HX62Device device{row_of("HXZelX"), interrupt};
    test::capture_logger logger;
};

TEST_F(Hx62Device, SectorReplyAmongNoiseAndAnotherPacketInPiecesIsRead) {
    const byte_vector content = pattern(4096, 3);
    unit.set_sector(77, content);
    hx62_faults faults;
    faults.noise = {0xA0, 0x13, 0xB0, 0xB3};
    faults.other_id_first = true;
    faults.pieces = 3;
    unit.set_faults(faults);
    ASSERT_TRUE(device.read_sector(77));
    EXPECT_TRUE(device.reply_holds_sector());
    EXPECT_EQ(device.reply().data, content);
    EXPECT_EQ(unit.count(0x33, 77), 1u);
    EXPECT_TRUE(logger.contains("Packet matched!!!"));
}

TEST_F(Hx62Device, LostOrCorruptReplyIsAskedForAgainAfterThreeReads) {
    unit.set_sector(51, pattern(4096, 8));
    hx62_faults faults;
    faults.dropped_replies = 1;
    unit.set_faults(faults);
    ASSERT_TRUE(device.read_sector(51));
    EXPECT_EQ(device.reply().data, pattern(4096, 8));
    EXPECT_EQ(unit.count(0x33, 51), 2u);
    EXPECT_EQ(logger.count("trying to read #0"), 3u);
    EXPECT_EQ(logger.count("trying to send #0"), 2u);
    EXPECT_TRUE(logger.mentions("Read timout: "));

    // A reply with a wrong sum arrives whole but is taken for noise.
    logger.clear();
    faults = hx62_faults{};
    faults.bad_checksums = 1;
    unit.set_faults(faults);
    ASSERT_TRUE(device.read_sector(51));
    EXPECT_EQ(device.reply().data, pattern(4096, 8));
    EXPECT_EQ(unit.count(0x33, 51), 4u);
    EXPECT_EQ(logger.count("Bytes read: 4105"), 2u);
    EXPECT_EQ(logger.count("Packet matched!!!"), 1u);
}

TEST_F(Hx62Device, StopRequestWhileWaitingEndsWith1500AtOnce) {
    hx62_faults faults;
    faults.silent = true;
    unit.set_faults(faults);
    auto reading = std::async(std::launch::async, [this] { return device.read_sector(51); });
    std::this_thread::sleep_for(1500ms);  // past the command's pause, inside the first read
    const auto stop = std::chrono::steady_clock::now();
    interrupt.set();
    try {
        reading.get();
        ADD_FAILURE() << "no interruption";
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.code(), sync_error_code::interrupted);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - stop, 150ms);
}

TEST_F(Hx62Device, ShortSectorReplyIsNeverWrittenBack) {
    unit.set_storage({{1, 0, 0, 1000, 40}});
    const byte_vector before = pattern(4096, 6);
    unit.set_sector(77, before);
    hx62_faults faults;
    faults.short_read_sector = 77;
    unit.set_faults(faults);
    downloaded(1, 1000, 40);
    EXPECT_FALSE(device.write_course());
    EXPECT_TRUE(logger.contains("Failed to read original sector content"));
    EXPECT_TRUE(unit.written_sectors().empty());
    EXPECT_EQ(unit.sector(77), before);
}

TEST_F(Hx62Device, CourseThatWouldRunPastItsSectorsOrItsAreaIsRefusedBeforeAnyWrite) {
    // A record larger than a sector does not fit the two sector images.
    unit.set_storage({{1, 0, 0, 5000, 40}});
    downloaded(2, 5000, 40);
    EXPECT_FALSE(device.write_course());
    EXPECT_TRUE(
        logger.contains("Course record too large: record size 5000, course 5000 bytes at "
                        "offset 904"));

    // An index past the unit's course records would land on whatever follows them.
    unit.set_storage({{1, 0, 0, 1000, 40}});
    downloaded(41, 1000, 40);
    EXPECT_FALSE(device.write_course());
    EXPECT_TRUE(logger.contains("Course index 40 outside the unit's 40 course records"));

    // A custom course must stay before the standard courses' sector 77.
    downloaded(103, 1000, 40);
    device.downloaded_course().custom = true;
    EXPECT_FALSE(device.write_course());
    EXPECT_TRUE(logger.contains("Custom course index 102 runs past the custom course area"));
    EXPECT_TRUE(unit.written_sectors().empty());
}

// Scrambles a course record as the service does: the inverse of the descrambling.
byte_vector scrambled(std::uint16_t id, const std::string& name, const model_key& data_key,
                      const model_key& name_key) {
    byte_vector record = pattern(600, 2);
    record[8] = static_cast<std::uint8_t>(id);
    record[9] = static_cast<std::uint8_t>(id >> 8);
    for (std::size_t k = 0; k < 50; ++k) {
        const std::uint8_t c = k < name.size() ? static_cast<std::uint8_t>(name[k]) : 0;
        record[10 + k] = c ^ name_key[k % 33];
    }
    // The swaps overlap, so they are undone in the opposite order.
    std::vector<std::pair<std::size_t, std::size_t>> swaps;
    const std::int64_t end = 600 - 2 + id % 2;
    for (std::int64_t i = end - id % 400 - 90, j = end; i >= 10; i -= 2, j -= 2) {
        swaps.emplace_back(i, j);
    }
    for (auto swap = swaps.rbegin(); swap != swaps.rend(); ++swap) {
        std::swap(record[swap->first], record[swap->second]);
    }
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] ^= data_key[i % 33];
    }
    return record;
}

TEST(Hx62CourseName, EachModelReadsItsNamesWithItsOwnKeys) {
    test::capture_logger logger;
    empty_event never;
    namespace keys = model_keys;
    HX62Device(row_of("HXZelPlus"), never)
        .check_course_data(4243, scrambled(4243, "Pine Hills", keys::HXZelPlus::data_key,
                                           keys::HXZelPlus::name_key));
    HX62Device(row_of("HXQuillan"), never)
        .check_course_data(
            77, scrambled(77, "Old Course", keys::HXQuillan::data_key, keys::HXQuillan::name_key));
    EXPECT_EQ(logger.messages(), (std::vector<std::string>{"4243: Pine Hills", "Old Course"}));

    // Another model's keys make another id of it.
    logger.clear();
    HX62Device(row_of("HXZelXS"), never)
        .check_course_data(
            77, scrambled(77, "Old Course", keys::HXQuillan::data_key, keys::HXQuillan::name_key));
    ASSERT_EQ(logger.messages().size(), 1u);
    EXPECT_TRUE(logger.mentions("Incorrect id_course, "));
    EXPECT_TRUE(logger.mentions(" insted of 77"));

    // A 50-character name has no end mark; a record too short for an id has no name.
    byte_vector longest =
        scrambled(9, std::string(50, 'n'), keys::HXZelX::data_key, keys::HXZelX::name_key);
    EXPECT_EQ(descramble_course(longest, 9, keys::HXZelX::data_key, keys::HXZelX::name_key),
              std::string(50, 'n'));
    byte_vector tiny(9, 0);
    EXPECT_FALSE(descramble_course(tiny, 0, keys::HXZelX::data_key, keys::HXZelX::name_key));
}

}  // namespace
}  // namespace orvel
