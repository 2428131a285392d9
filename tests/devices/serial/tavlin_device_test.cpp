// A Tavlin unit driven through a real port against the simulated unit: a garbled goodbye
// does not escape the destructor, and an interrupt sends nothing.
#include "devices/serial/tavlin_device.h"

#include <gtest/gtest.h>

#include <memory>

#include "base/failures.h"
#include "devices/serial/tavlin_message.h"
#include "sim/tavlin_unit.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

TEST(TavlinDeviceTest, GarbledReplyToTheExitIsLoggedNotRaised) {
    test::tavlin_unit unit;
    test::capture_logger logger;
    event interrupt;
    auto device = std::make_unique<TavlinDevice>(interrupt);
    ASSERT_TRUE(device->open(unit.line().path()));
    EXPECT_EQ(unit.texts(tavlin::test), std::vector<std::string>{"test,"});

    unit.set_faults({tavlin::leave});
    device.reset();
    EXPECT_EQ(unit.texts(tavlin::leave), std::vector<std::string>{""});
    EXPECT_TRUE(logger.contains("Exiting connection failed: Incorrect response from device"));
}

TEST(TavlinDeviceTest, InterruptedUpdateSendsNothing) {
    test::tavlin_unit unit;
    event interrupt;
    TavlinDevice device(interrupt);
    ASSERT_TRUE(device.open(unit.line().path()));
    device.downloaded_course().course_name = "Mine";
    interrupt.set();
    EXPECT_THROW(device.write_course(), extl_exception);
    EXPECT_EQ(unit.line().messages().size(), 1u);
}

}  // namespace
}  // namespace orvel
