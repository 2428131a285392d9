#include "devices/usbdisk/usbdisk_connection.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/failures.h"
#include "support/capture_logger.h"
#include "support/temp_folder.h"
#include "sync/model_table.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

// Attaches folders as removable volumes for the time of a test.
class simulated_volumes {
public:
    explicit simulated_volumes(const std::string& folders) {
        ::setenv("ORVELSYNC_VOLUMES", folders.c_str(), 1);
    }
    ~simulated_volumes() { ::unsetenv("ORVELSYNC_VOLUMES"); }
};

std::string no_slash(const std::string& path) {
    return path.substr(0, path.size() - 1);
}

class USBDiskConnectionTest : public ::testing::Test {
protected:
    std::unique_ptr<device_connection> connect(const std::string& model) {
        return make_device_connection(model, {}, never);
    }

    test::temp_folder first{"vol-a"};
    test::temp_folder second{"vol-b"};
    empty_event never;
    test::capture_logger logger;
};

TEST_F(USBDiskConnectionTest, TheFirstVolumeThatHoldsTheMarkerIsTheUnit) {
    simulated_volumes volumes(no_slash(first.path()) + ":" + second.path());
    const auto zel_plus = connect("ZelPlus");
    EXPECT_FALSE(zel_plus->is_device_present());
    EXPECT_EQ(zel_plus->find_device(), "");

    test::write_file(second / "SYSREG.SMI", "");
    EXPECT_EQ(zel_plus->find_device(), second.path());
    EXPECT_EQ(zel_plus->device_location(), second.path());
    EXPECT_TRUE(zel_plus->is_device_present());
    EXPECT_TRUE(zel_plus->eject_needed());

    fs::create_directory(first / "SYSREG.SMI");        // a folder marks the volume as well
    EXPECT_EQ(zel_plus->find_device(), first.path());  // the root gains its "/"
}

TEST_F(USBDiskConnectionTest, ModelsAreFoundByTheirOwnMarkerOnly) {
    simulated_volumes volumes(first.path());
    test::write_file(first / "SETUP.KM3", "");
    test::write_file(first / "EMBEDD01.GLF", "");
    EXPECT_FALSE(connect("KM3")->is_device_present());
    test::write_file(first / "Brevanto.exe", "");
    EXPECT_TRUE(connect("KM3")->is_device_present());
    EXPECT_FALSE(connect("JTC")->is_device_present());
    test::write_file(first / "PRANG.STP", "");
    EXPECT_TRUE(connect("Prang")->is_device_present());
    EXPECT_FALSE(connect("Morvane")->is_device_present());
}

TEST_F(USBDiskConnectionTest, OpenDeviceOpensTheCourseFileOfTheFoundVolume) {
    simulated_volumes volumes(first.path());
    const auto jtc_plus = connect("JTCPlus");
    EXPECT_THROW(jtc_plus->open_device(), intl_exception);  // no volume: the open fails
    test::write_file(first / "SYSREG.SMI", "");
    test::write_file(first / "EMBEDD01.GLF", "");
    EXPECT_TRUE(jtc_plus->open_device());
    jtc_plus->close_device();
}

TEST_F(USBDiskConnectionTest, EjectNeedsTheVolumeAndFlushesASimulatedOne) {
    simulated_volumes volumes(first.path());
    const auto zel_plus = connect("ZelPlus");
    try {
        zel_plus->eject();
        FAIL();
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.code(), sync_error_code::device_not_found);
    }
    EXPECT_TRUE(logger.contains("Can't find file SYSREG.SMI"));
    test::write_file(first / "SYSREG.SMI", "");
    EXPECT_NO_THROW(zel_plus->eject());
}

}  // namespace
}  // namespace orvel
