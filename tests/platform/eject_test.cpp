#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "platform/volumes.h"
#include "support/capture_logger.h"
#include "support/fake_sysfs.h"
#include "support/fake_udisks.h"
#include "support/private_bus.h"
#include "support/temp_folder.h"

namespace orvel::platform {
namespace {

const std::string usb_port = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host7/target7:0:0/7:0:0:0";
const std::string busy = "org.freedesktop.UDisks2.Error.DeviceBusy";

// Points the system bus of this process at the test's bus for one test.
class system_bus_address {
public:
    explicit system_bus_address(const std::string& address) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    }
    ~system_bus_address() { ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }
};

std::uint64_t device_of(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw std::runtime_error("cannot stat " + path);
    }
    return info.st_dev;
}

// The unit's volume is a test folder; the fake tree and service put it on partition 1 of
// a USB disk "sdz" whose drive is "Orvel_Unit". The system disk must be left alone.
class Eject : public ::testing::Test {
protected:
    Eject() : sysfs(folder / "sys"), address(bus.address()) {
        sysfs.add_disk(usb_port, "sdz", "8:240", true);
        sysfs.add_partition("sdz", "sdz1", test::device_number_of(volume.path()));
        sources.sysfs = sysfs.root();
        sources.mountinfo = folder / "no-mountinfo";
    }

    void serve(bool can_power_off = true) {
        service = std::make_unique<test::fake_udisks>(bus.address());
        service->add_drive("Orvel_Unit", can_power_off);
        service->add_drive("System_Disk", true);
        service->add_block("sdz", (8u << 8) | 240u, "Orvel_Unit", false);
        service->add_block("sdz1", device_of(volume.path()), "Orvel_Unit", true, {volume.path()});
        service->add_block("sda1", (8u << 8) | 1u, "System_Disk", true, {"/"});
        service->start();
    }

    test::temp_folder folder{"eject"};
    test::temp_folder volume{"eject-unit"};
    test::fake_sysfs sysfs;
    test::private_bus bus;
    system_bus_address address;
    volume_sources sources;
    std::unique_ptr<test::fake_udisks> service;
    test::capture_logger logger;
};

TEST_F(Eject, UnmountsTheDisksFileSystemsThenPowersTheDriveOff) {
    serve();
    EXPECT_TRUE(eject_volume(volume.path(), sources));
    EXPECT_EQ(service->calls(), (std::vector<std::string>{"Unmount sdz1", "PowerOff Orvel_Unit"}));
    EXPECT_TRUE(service->mount_points("sdz1").empty());
    EXPECT_EQ(service->mount_points("sda1"), (std::vector<std::string>{"/"}));
}

TEST_F(Eject, ADriveThatCannotPowerOffIsEjected) {
    serve(false);
    EXPECT_TRUE(eject_volume(volume.path(), sources));
    EXPECT_EQ(service->calls(), (std::vector<std::string>{"Unmount sdz1", "Eject Orvel_Unit"}));
}

TEST_F(Eject, OneVetoIsOvercomeAfterAPause) {
    serve();
    service->refuse("Unmount", 1, busy);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(eject_volume(volume.path(), sources));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(service->calls(),
              (std::vector<std::string>{"Unmount sdz1", "Unmount sdz1", "PowerOff Orvel_Unit"}));
    EXPECT_FALSE(logger.mentions("CM_Request_Device_Eject failed"));
}

TEST_F(Eject, ThreeVetoesFailWithTheServicesErrorName) {
    serve();
    service->refuse("PowerOff", 3, busy);
    EXPECT_FALSE(eject_volume(volume.path(), sources));
    // The file system went on the first try; only the power-off is asked again.
    EXPECT_EQ(service->calls(),
              (std::vector<std::string>{"Unmount sdz1", "PowerOff Orvel_Unit",
                                        "PowerOff Orvel_Unit", "PowerOff Orvel_Unit"}));
    EXPECT_TRUE(logger.contains("CM_Request_Device_Eject failed: 5 2 " + busy));
}

TEST_F(Eject, WithoutTheServiceTheEjectFails) {
    EXPECT_FALSE(eject_volume(volume.path(), sources));
    bool logged = false;
    for (const std::string& message : logger.messages()) {
        logged = logged || (message.rfind("CM_Request_Device_Eject failed: ", 0) == 0 &&
                            message.find(" 0 org.freedesktop.DBus.Error.ServiceUnknown") !=
                                std::string::npos);
    }
    EXPECT_TRUE(logged);
}

TEST_F(Eject, AVolumeOffEveryKnownDiskIsNotAskedFor) {
    serve();
    test::temp_folder elsewhere("eject-sys");
    test::fake_sysfs empty(elsewhere / "sys");
    volume_sources unknown = sources;
    unknown.sysfs = empty.root();
    EXPECT_FALSE(eject_volume(volume.path(), unknown));
    EXPECT_TRUE(service->calls().empty());

    // A disk the service does not know is refused without asking it anything.
    test::fake_sysfs other(elsewhere / "other");
    other.add_disk(usb_port, "sdy", "8:224", true);
    other.add_partition("sdy", "sdy1", test::device_number_of(volume.path()));
    unknown.sysfs = other.root();
    EXPECT_FALSE(eject_volume(volume.path(), unknown));
    EXPECT_TRUE(service->calls().empty());
    EXPECT_TRUE(logger.contains("CM_Request_Device_Eject failed: 19 0 no drive for the disk"));
}

TEST_F(Eject, ASimulatedVolumeIsFlushedWithoutTheService) {
    serve();
    volume_sources simulated = sources;
    const std::string root = volume.path();
    simulated.simulated = folder / "other:" + root.substr(0, root.size() - 1);
    test::write_file(volume / "COURSE.DAT", "data");
    EXPECT_TRUE(eject_volume(root, simulated));
    EXPECT_TRUE(service->calls().empty());

    const std::string gone = folder / "gone/";
    simulated.simulated = gone;
    EXPECT_FALSE(eject_volume(gone, simulated));
    EXPECT_TRUE(logger.contains("open: 2. No such file or directory"));
}

}  // namespace
}  // namespace orvel::platform
