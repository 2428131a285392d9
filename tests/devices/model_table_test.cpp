#include "devices/model_table.h"

#include <gtest/gtest.h>

#include <typeinfo>

#include "base/failures.h"
#include "devices/serial/serial_models.h"
#include "devices/usbdisk/file_models.h"
#include "devices/usbdisk/tar_package_models.h"
#include "platform/memory_stream.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

template <typename Connection>
bool is(device_connection& c) {
    return dynamic_cast<Connection*>(&c) != nullptr && typeid(c) == typeid(Connection);
}

TEST(ModelTable, EveryModelTextBuildsItsOwnConnectionClass) {
    const std::vector<std::pair<std::string, std::function<bool(device_connection&)>>> rows = {
        {"Quorvanda", is<quorvanda_connection>},
        {"Morvane", is<morvane_connection>},
        {"Uzo2", is<uzo2_connection>},
        {"Caltor2", is<caltor2_connection>},
        {"Prang", is<prang_connection>},
        {"HXQuillan", is<HXQuillanConnection>},
        {"Uzo", is<uzo_connection>},
        {"HXZelX", is<HXZelXConnection>},
        {"HXZelXS", is<HXZelXSConnection>},
        {"HXZelPlus", is<HXZelPlusConnection>},
        {"HXBrevanto", is<HXBrevantoConnection>},
        {"ZelPlus", is<ZelPlusConnection>},
        {"JTCPlus", is<JTCPlusConnection>},
        {"KM3", is<BrevantoConnection>},
        {"Nebro", is<nebro_connection>},
        {"Zel", is<ZelConnection>},
        {"Vemo", is<VemoConnection>},
        {"JTC", is<JTCConnection>},
        {"Tavlin", is<TavlinConnection>},
        {"JT", is<JTConnection>},
    };
    empty_event never;
    connection_settings settings{"cloud.test", "uk", "us", "SN", 42};
    for (const auto& [text, right_class] : rows) {
        const auto connection = make_device_connection(text, settings, never);
        ASSERT_NE(connection, nullptr) << text;
        EXPECT_TRUE(right_class(*connection)) << text;
        EXPECT_EQ(connection->model_name(), text);
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
    EXPECT_EQ(HXZelXDevice(never).identity(), "Silicon Labs CP210x USB to UART Bridge");
    EXPECT_EQ(HXQuillanDevice(never).baud_rate(), 460800u);
    EXPECT_EQ(JTDevice(never).baud_rate(), 57600u);
    EXPECT_EQ(ZelDevice(never).baud_rate(), 9600u);
    EXPECT_EQ(VemoDevice(never).baud_rate(), 115200u);
    EXPECT_EQ(TavlinDevice(never).baud_rate(), 38400u);
    EXPECT_EQ(ZelDevice(never).identity(), "Prolific USB-to-Serial Comm Port");

    EXPECT_EQ(ZelPlusDevice(never).identity(), "SYSREG.SMI");
    EXPECT_EQ(JTCDevice(never).identity(), "SYSREG.SMI");
    EXPECT_EQ(BrevantoDevice(never).identity(), "Brevanto.exe");
    EXPECT_EQ(BrevantoDevice(never).setup_file_name(), "SETUP.KM3");
    EXPECT_EQ(BrevantoDevice(never).setup_file_offset(), 29u);
    EXPECT_EQ(JTCPlusDevice(never).setup_file_name(), "SETUP.SMI");
    EXPECT_THROW(JTCDevice(never).setup_file_name(), intl_exception);
    EXPECT_EQ(ZelPlusDevice(never).course_file_name(), "EMBEDD01.GLF");

    EXPECT_EQ(quorvanda_device(never).identity(), "qvanda.stp");
    EXPECT_EQ(quorvanda_device(never).index_file_name(), "qvanda.idx");
    EXPECT_EQ(quorvanda_device(never).course_file_name(), "quorvanda.tar");
    EXPECT_EQ(prang_device(never).identity(), "PRANG.STP");
    EXPECT_EQ(nebro_device(never).identity(), "nebro.setup");
    EXPECT_EQ(uzo_device(never).course_file_name(), "uzo.tar");
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
    EXPECT_THROW(nebro_device(never).open(""), intl_exception);
    EXPECT_FALSE(nebro_device(never).is_open());
    nebro_connection package_model({}, never);
    memory_stream answer;
    request_context request{answer, package_model.settings()};
    EXPECT_THROW(package_model.install_package(request, "/", "http://127.0.0.1:1/nebro.tar", 1),
                 intl_exception);
}

}  // namespace
}  // namespace orvel
