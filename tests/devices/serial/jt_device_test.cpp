// A JT unit driven through a real port against the simulated unit: courses that would be
// read past their end, and interrupts, never reach the unit.
#include "devices/serial/jt_device.h"

#include <gtest/gtest.h>

#include "base/failures.h"
#include "sim/jt_unit.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

class JtDevice : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(device.open(unit.line().path())); }

    void downloaded(std::size_t size, unsigned images) {
        JTCourse& course = device.downloaded_course();
        course.glf.assign(size, 0x5A);
        course.glf[0] = 0;
        course.glf[48] = static_cast<std::uint8_t>(images >> 8);
        course.glf[49] = static_cast<std::uint8_t>(images);
    }
    // Messages the unit got after the connect.
    std::size_t sent() { return unit.line().messages().size() - 1; }

    test::jt_unit unit;
    event interrupt;
    JTDevice device{interrupt};
    test::capture_logger logger;
};

TEST_F(JtDevice, CourseTooShortForItsImagesIsRefusedBeforeAnythingIsSent) {
    downloaded(6292, 1);
    EXPECT_FALSE(device.write_course());
    EXPECT_TRUE(logger.contains(
        "Course refused: 6292 bytes hold no hole image, 1 announced (6293 bytes needed)"));

    // More images than a course has holes would never end.
    downloaded(6293, 0x4142);
    EXPECT_FALSE(device.write_course());
    EXPECT_TRUE(logger.contains("Course refused: 16706 hole images, a course has at most 18"));
    EXPECT_EQ(sent(), 0u);

    // Without images, the course pages alone are all there is.
    downloaded(4658, 0);
    EXPECT_TRUE(device.send_hole_images());
    EXPECT_EQ(sent(), 0u);
}

TEST_F(JtDevice, InterruptedUpdateSendsNothing) {
    downloaded(6293, 1);
    interrupt.set();
    try {
        device.write_course();
        ADD_FAILURE() << "not interrupted";
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.code(), sync_error_code::interrupted);
    }
    EXPECT_EQ(sent(), 0u);
}

}  // namespace
}  // namespace orvel
