// A Zel unit driven through a real port against the simulated unit: slot searches, replies
// that fail a command at once, and the exit that closing and destruction send.
#include "devices/serial/zel_device.h"

#include <gtest/gtest.h>

#include <memory>

#include "base/failures.h"
#include "sim/zel_unit.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

class ZelDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(device->open(unit.line().path())); }

    test::zel_unit unit;
    event interrupt;
    std::unique_ptr<ZelDevice> device = std::make_unique<ZelDevice>(interrupt);
    test::capture_logger logger;
};

TEST_F(ZelDeviceTest, LowestFreeSlotIsChosenWhenNoSlotHoldsTheCourse) {
    for (std::size_t index : {0, 1, 3, 4, 5, 6, 8, 9}) {
        unit.set_slot(index, "Other " + std::to_string(index));
    }
    EXPECT_EQ(device->find_course_slot("Mine"), 2u);
    EXPECT_EQ(unit.count("$CRNM"), 10u);
    EXPECT_EQ(unit.commands().back(), "$CRNM,10");
    EXPECT_EQ(unit.commands().front(), "$FCON");
    EXPECT_EQ(unit.commands()[1], "$TEST");
}

TEST_F(ZelDeviceTest, SlotWhoseNameCannotBeReadFailsTheUpdateAndNothingIsErased) {
    unit.set_slot(0, "Other");
    unit.set_faults({"", 2});
    device->downloaded_course().course_name = "Mine";
    device->downloaded_course().hole_count = 9;
    EXPECT_FALSE(device->write_course());
    EXPECT_TRUE(logger.contains("Course name reply without a name: $OKCN"));
    EXPECT_EQ(unit.count("$CRNM"), 2u);
    EXPECT_EQ(unit.count("$ECRS"), 0u);
    EXPECT_EQ(unit.slot(0).name, "Other");
}

TEST_F(ZelDeviceTest, WrongReplyFailsTheCommandWithoutAnotherTry) {
    unit.set_faults({"$ECRS", 0});
    const std::uint8_t erase[] = {'$', 'E', 'C', 'R', 'S', ',', '1', 0x00};
    EXPECT_FALSE(device->exchange(erase, sizeof erase, "$OKEC", true));
    EXPECT_TRUE(logger.contains("Matching response failed. Expected: $OKEC. Received: $BDRS.\r\n"));
    EXPECT_EQ(unit.count("$ECRS"), 1u);
}

TEST_F(ZelDeviceTest, ExitIsSentOnCloseAndByTheDestructorWhichNeverRaises) {
    device->close();
    EXPECT_EQ(unit.commands().back(), "$EXIT");
    EXPECT_EQ(unit.count("$EXIT"), 1u);
    device->close();  // closed already: nothing to say
    EXPECT_EQ(unit.count("$EXIT"), 1u);

    ASSERT_TRUE(device->open(unit.line().path()));
    device.reset();
    EXPECT_EQ(unit.count("$EXIT"), 2u);

    // A shutdown interrupts the goodbye too; the destructor logs it and goes.
    device = std::make_unique<ZelDevice>(interrupt);
    ASSERT_TRUE(device->open(unit.line().path()));
    interrupt.set();
    device.reset();
    EXPECT_EQ(unit.count("$EXIT"), 2u);
    EXPECT_TRUE(logger.contains("Exiting connection failed: code 1500"));
}

TEST_F(ZelDeviceTest, InterruptedUpdateSendsNothing) {
    device->downloaded_course().course_name = "Mine";
    interrupt.set();
    EXPECT_THROW(device->write_course(), extl_exception);
    EXPECT_EQ(unit.commands().size(), 2u);
}

}  // namespace
}  // namespace orvel
