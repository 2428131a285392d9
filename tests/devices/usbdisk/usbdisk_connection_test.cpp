#include "devices/usbdisk/usbdisk_connection.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <future>
#include <thread>

#include "base/failures.h"
#include "devices/model_table.h"
#include "sim/test_http_server.h"
#include "support/capture_logger.h"
#include "support/temp_folder.h"

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
    {
        // Without a volume the course file is not looked for in the working directory.
        test::write_file(second / "EMBEDD01.GLF", "");
        const fs::path kept = fs::current_path();
        fs::current_path(second.path());
        EXPECT_THROW(jtc_plus->open_device(), intl_exception);
        fs::current_path(kept);
    }
    EXPECT_FALSE(connect("JTC")->open_device());
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

TEST_F(USBDiskConnectionTest, EjectDuringAnUpdateIsRefusedAndTheUpdateCompletes) {
    // Eject runs on the command loop thread while the update thread writes the unit's files;
    // closing them there would pull the course file from under the write.
    simulated_volumes volumes(first.path());
    test::write_file(first / "SYSREG.SMI", "");
    test::write_file(first / "EMBEDD01.GLF", "........");
    test::test_http_server cloud;
    cloud.add_user("member", "secret");
    std::promise<void> asked;
    std::promise<void> answer;
    std::shared_future<void> may_answer = answer.get_future().share();
    cloud.handle_rest("DeviceCourseDataDetails", [&](const test::recorded_request&) {
        asked.set_value();
        may_answer.wait();
        return test::http_reply::json(
            R"({"Status":1,"ErrorMessage":"","glfCourse":{"index":2,"glf":"YWJjZA=="},)"
            R"("id_course":5,"courseName":"Pine Valley"})");
    });
    connection_settings settings;
    settings.server = cloud.host();
    settings.userKey = "member";
    settings.userSecret = "secret";
    const auto zel_plus = make_device_connection("ZelPlus", settings, never);

    std::exception_ptr update_error;
    std::thread update([&] {
        try {
            zel_plus->update_course("5");
        } catch (...) {
            update_error = std::current_exception();
        }
    });
    asked.get_future().wait();  // the course file is open and the update waits for the course
    try {
        zel_plus->eject();
        ADD_FAILURE() << "eject during an update";
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.code(), sync_error_code::eject_failed);
    }
    answer.set_value();
    update.join();
    EXPECT_FALSE(update_error);
    EXPECT_EQ(test::read_file(first / "EMBEDD01.GLF"), "....abcd");
    EXPECT_TRUE(logger.contains("Eject refused: an update is using the device"));
    EXPECT_NO_THROW(zel_plus->eject());  // once the update has ended
}

}  // namespace
}  // namespace orvel
