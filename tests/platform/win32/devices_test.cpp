#include <gtest/gtest.h>

#include "platform/serial_port.h"
#include "platform/serial_ports.h"
#include "platform/volumes.h"
#include "support/capture_logger.h"
#include "support/temp_folder.h"

namespace orvel::platform {
namespace {

// What runs here has no COM ports and no USB disks: only the simulated ones and the
// failures are shown; the real enumeration and the eject are left to a Windows machine.
TEST(Win32Devices, SimulatedVolumesComeFirstWithTheirSeparator) {
    test::temp_folder folder("volume");
    volume_sources sources;
    sources.simulated = folder.path() + ";C:\\units\\second";
    const std::vector<std::string> roots = removable_volumes(sources);
    ASSERT_GE(roots.size(), 2u);
    EXPECT_EQ(roots[0], folder.path());
    EXPECT_EQ(roots[1], "C:\\units\\second\\");
    // A folder attached as a volume has no drive to eject.
    EXPECT_TRUE(eject_volume(folder.path(), sources));
}

TEST(Win32Devices, AVolumeWithoutADeviceHasNoNumberAndNoDisk) {
    test::capture_logger logger;
    EXPECT_EQ(volume_device_number("Q:\\"), -1);
    EXPECT_TRUE(logger.mentions("CreateFile : "));
    EXPECT_EQ(disk_device_instance("Q:\\"), "");
    EXPECT_FALSE(eject_volume("Q:\\"));
}

TEST(Win32Devices, SimulatedPortsComeFirstAndNameTheirPathWithThePrefix) {
    serial_port_sources sources;
    sources.simulated = "Prolific USB-to-Serial Comm Port (\\\\.\\COM41);Other (\\\\.\\COM42)";
    const std::vector<serial_port_entry> ports = serial_ports(sources);
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(ports[0].name, "Prolific USB-to-Serial Comm Port");
    EXPECT_EQ(ports[0].device, "\\\\.\\COM41");
    EXPECT_EQ(ports[1].name, "Other");
    EXPECT_EQ(ports[1].device, "\\\\.\\COM42");
    EXPECT_EQ(std::string(port_path_prefix()), "\\\\.\\");
}

TEST(Win32Devices, AMissingPortFailsToOpenWithTheLineLogReadersKnow) {
    test::capture_logger logger;
    serial_port port;
    EXPECT_FALSE(port.open("\\\\.\\COM97", 57600));
    EXPECT_FALSE(port.is_open());
    EXPECT_EQ(port.baud(), 0u);
    EXPECT_TRUE(logger.mentions("Create file failed: 2. ")) << logger.messages().size();
    EXPECT_EQ(port.read(nullptr, 0), 0u);
    EXPECT_TRUE(logger.mentions("ReadFile failed: 6. "));
    EXPECT_EQ(port.available(), -1);
}

}  // namespace
}  // namespace orvel::platform
