#include "devices/model_table.h"

#include <gtest/gtest.h>

#include <set>

#include "base/failures.h"
#include "devices/model_rows.h"
#include "devices/serial/comm_connection.h"
#include "devices/serial/hx62_device.h"
#include "devices/serial/jt_device.h"
#include "devices/serial/tavlin_device.h"
#include "devices/serial/vemo_device.h"
#include "devices/serial/zel_device.h"
#include "devices/usbdisk/file_models.h"
#include "devices/usbdisk/tar_package_models.h"
#include "platform/memory_stream.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

TEST(ModelTable, EveryModelTextBuildsItsFamilysConnection) {
    empty_event never;
    connection_settings settings{"cloud.test", "uk", "us", "SN", 42};
    std::set<std::string> names;
    for (const model_row& row : model_rows()) {
        EXPECT_TRUE(names.insert(row.name).second) << row.name;
        const auto connection = make_device_connection(row.name, settings, never);
        ASSERT_NE(connection, nullptr) << row.name;
        const bool tar_package = row.family == model_family::tar_package;
        EXPECT_EQ(dynamic_cast<nebro_connection*>(connection.get()) != nullptr, tar_package);
        EXPECT_EQ(dynamic_cast<USBDiskConnection*>(connection.get()) != nullptr,
                  is_volume(row.family))
            << row.name;
        EXPECT_EQ(dynamic_cast<CommConnection*>(connection.get()) != nullptr,
                  !is_volume(row.family))
            << row.name;
        EXPECT_EQ(connection->model_name(), row.name);
        EXPECT_EQ(connection->eject_needed(), is_volume(row.family));
        EXPECT_EQ(connection->settings().userKey, "uk");
        EXPECT_EQ(connection->settings().id_memberProduct, 42u);
    }
}

TEST(ModelTable, OnlyWholeCaseSensitiveTextsAreModels) {
    empty_event never;
    for (const char* text : {"zel", "Zel ", " Zel", "JTCplus", "HXZel", "", "KM"}) {
        try {
            make_device_connection(text, {}, never);
            ADD_FAILURE() << text;
        } catch (const extl_exception& e) {
            EXPECT_EQ(e.code(), sync_error_code::unknown_model);
            EXPECT_TRUE(e.message().empty());
        }
    }
    // A prefix of a longer name picks its own model, not the longer one.
    EXPECT_EQ(make_device_connection("JTC", {}, never)->model_name(), "JTC");
    EXPECT_EQ(make_device_connection("JT", {}, never)->model_name(), "JT");
    EXPECT_EQ(make_device_connection("Uzo", {}, never)->model_name(), "Uzo");
}

TEST(ModelTable, DevicesCarryTheirModelConstants) {
    empty_event never;
    EXPECT_EQ(HX62Device(row_of("HXZelX"), never).identity(),
              "Silicon Labs CP210x USB to UART Bridge");
    EXPECT_EQ(HX62Device(row_of("HXQuillan"), never).baud_rate(), 460800u);
    EXPECT_EQ(JTDevice(never).baud_rate(), 57600u);
    EXPECT_EQ(ZelDevice(never).baud_rate(), 9600u);
    EXPECT_EQ(VemoDevice(never).baud_rate(), 115200u);
    EXPECT_EQ(TavlinDevice(never).baud_rate(), 38400u);
    EXPECT_EQ(ZelDevice(never).identity(), "Prolific USB-to-Serial Comm Port");

    EXPECT_EQ(USBDiskDevice(row_of("ZelPlus"), never).identity(), "SYSREG.SMI");
    EXPECT_EQ(JTCDevice(row_of("JTC"), never).identity(), "SYSREG.SMI");
    EXPECT_EQ(USBDiskDevice(row_of("KM3"), never).identity(), "Brevanto.exe");
    EXPECT_EQ(USBDiskDevice(row_of("KM3"), never).setup_file_name(), "SETUP.KM3");
    EXPECT_EQ(USBDiskDevice(row_of("KM3"), never).setup_file_offset(), 29u);
    EXPECT_EQ(USBDiskDevice(row_of("JTCPlus"), never).setup_file_name(), "SETUP.SMI");
    EXPECT_THROW(JTCDevice(row_of("JTC"), never).setup_file_name(), intl_exception);
    EXPECT_EQ(USBDiskDevice(row_of("ZelPlus"), never).course_file_name(), "EMBEDD01.GLF");

    EXPECT_EQ(nebro_device(row_of("Quorvanda"), never).identity(), "qvanda.stp");
    EXPECT_EQ(nebro_device(row_of("Quorvanda"), never).index_file_name(), "qvanda.idx");
    EXPECT_EQ(nebro_device(row_of("Quorvanda"), never).course_file_name(), "quorvanda.tar");
    EXPECT_EQ(nebro_device(row_of("Prang"), never).identity(), "PRANG.STP");
    EXPECT_EQ(nebro_device(row_of("Nebro"), never).identity(), "nebro.setup");
    EXPECT_EQ(nebro_device(row_of("Uzo"), never).course_file_name(), "uzo.tar");
}

TEST(ModelTable, AbsentUnitsAndUnbuiltPackagesFailVisibly) {
    empty_event never;
    test::capture_logger logger;
    const auto zel = make_device_connection("Zel", {}, never);
    EXPECT_FALSE(zel->is_device_present());
    EXPECT_FALSE(zel->eject_needed());
    EXPECT_FALSE(zel->open_device());
    EXPECT_TRUE(logger.contains("Device not found"));
    EXPECT_THROW(ZelDevice(never).open("/dev/null"), intl_exception);

    const auto nebro = make_device_connection("Nebro", {}, never);
    EXPECT_TRUE(nebro->eject_needed());
    // Without a volume the course library is not looked for in the working directory.
    EXPECT_THROW(nebro_device(row_of("Nebro"), never).open(""), intl_exception);
    EXPECT_FALSE(nebro_device(row_of("Nebro"), never).is_open());
    nebro_connection package_model(row_of("Nebro"), {}, never);
    memory_stream answer;
    request_context request{answer, package_model.settings()};
    EXPECT_THROW(package_model.install_package(request, "/", "http://127.0.0.1:1/nebro.tar", 1),
                 intl_exception);
}

}  // namespace
}  // namespace orvel
