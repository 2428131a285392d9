// A Vemo unit driven through a real port against the simulated unit: a unit that refuses
// the connect, and courses that would be read past their end.
#include "devices/serial/vemo_device.h"

#include <gtest/gtest.h>

#include "base/failures.h"
#include "sim/vemo_unit.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

std::string text_of(const byte_vector& message) {
    return std::string(message.begin(), message.end());
}

TEST(VemoDeviceTest, UnitThatRefusesBothConnectsIsTakenAsConnectedAfterAnExit) {
    test::vemo_unit unit;
    test::vemo_faults faults;
    faults.busy = true;
    unit.set_faults(faults);
    test::capture_logger logger;
    event interrupt;
    VemoDevice device(interrupt);
    ASSERT_TRUE(device.open(unit.line().path()));
    EXPECT_TRUE(logger.contains("Bad connect response from device"));
    const std::vector<byte_vector> messages = unit.line().messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(text_of(messages[0]), std::string("$FCON\r\0", 7));
    EXPECT_EQ(text_of(messages[1]), std::string("$EXIT\r\0", 7));
    EXPECT_EQ(text_of(messages[2]), std::string("$FCON\r\0", 7));
}

TEST(VemoDeviceTest, ShortCourseOrAnInterruptSendsNothingOfTheCourse) {
    test::vemo_unit unit;
    test::capture_logger logger;
    event interrupt;
    VemoDevice device(interrupt);
    ASSERT_TRUE(device.open(unit.line().path()));
    device.downloaded_course().course_name = "Short";
    device.downloaded_course().glf.assign(7039, 0x11);
    EXPECT_FALSE(device.write_course());
    EXPECT_TRUE(logger.contains("Course refused: 7039 bytes, a Vemo course is 7040"));

    device.downloaded_course().glf.assign(7040, 0x11);
    interrupt.set();
    try {
        device.write_course();
        ADD_FAILURE() << "not interrupted";
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.code(), sync_error_code::interrupted);
    }
    EXPECT_EQ(unit.line().messages().size(), 1u);
    EXPECT_TRUE(unit.announced().empty());
}

}  // namespace
}  // namespace orvel
