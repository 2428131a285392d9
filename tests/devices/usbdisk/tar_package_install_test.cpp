// A restore of a tar-package unit against the test cloud: the package is downloaded into the
// temporary folder, unpacked onto the unit and confirmed, and nothing stays on the computer.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "base/failures.h"
#include "devices/usbdisk/tar_package_models.h"
#include "sim/test_http_server.h"
#include "support/capture_logger.h"
#include "support/scoped_env.h"
#include "support/tar_archive.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using files = std::vector<std::pair<std::string, std::string>>;

// An index header for so many courses, one to an index file.
std::string index_header(char courses) {
    return std::string("HEAD") + courses + std::string("\0\x01\0", 3);
}

class TarPackageInstall : public ::testing::Test {
protected:
    TarPackageInstall() {
        cloud.add_user("member", "secret");
        settings.server = cloud.host();
        settings.userKey = "member";
        settings.userSecret = "secret";
        fs::create_directory(unit);
        test::write_file(unit + "nebro.setup", "");
        fs::create_directory(unit + "idx");
        test::write_file(unit + "idx/nebro.idx", index_header(1));
        test::write_file(unit + "kept.bin", "the unit's own");
    }

    // The code the restore failed with; 0 when it did not.
    unsigned restore(const std::string& package, int version) {
        cloud.reply("/files/nebro.tar", test::http_reply::text(200, package));
        cloud.reply_rest("DeviceRestore",
                         test::http_reply::json(
                             R"({"Status":1,"ErrorMessage":"","files":["nebro.tar"],"urls":[")" +
                             cloud.url("/files/nebro.tar") + R"("],"version":)" +
                             std::to_string(version) + "}"));
        cloud.reply_rest("DeviceFullDataConfirm",
                         test::http_reply::json(R"({"Status":1,"ErrorMessage":""})"));
        cloud.clear_requests();
        nebro_connection connection(row_of("Nebro"), settings, never);
        try {
            connection.restore_device();
        } catch (const extl_exception& e) {
            return code_value(e.code());
        }
        return 0;
    }

    // The body of the action's request; "" when none was sent.
    std::string body_of(const std::string& action) const {
        for (const auto& request : cloud.requests()) {
            if (request.action == action) {
                return request.body;
            }
        }
        return "";
    }

    bool logged(const std::string& pattern) const {
        const std::regex expression(pattern);
        for (const std::string& message : logger.messages()) {
            if (std::regex_match(message, expression)) {
                return true;
            }
        }
        return false;
    }

    // Holds the unit's folder and nothing else, so that a write beside the unit shows.
    test::temp_folder outer{"install-outer"};
    test::temp_folder temp{"install-temp"};
    const std::string unit = outer / "unit/";
    test::scoped_env tmpdir{"TMPDIR", temp.path()};
    test::scoped_env volumes{"ORVELSYNC_VOLUMES", unit};
    test::test_http_server cloud;
    connection_settings settings;
    empty_event never;
    test::capture_logger logger;
};

TEST_F(TarPackageInstall, ThePackageIsUnpackedOntoTheUnitAndConfirmedAndLeavesTheComputer) {
    test::tar_builder package;
    package.file("pkg/idx/nebro.idx", index_header(2))
        .file("pkg/idx/000", "entries")
        .file("pkg/name/n", "names")
        .file("pkg/top.bin", "top")
        .end();
    ASSERT_EQ(restore(package.bytes(), 12), 0u);

    EXPECT_EQ(test::files_below(unit), (files{{"idx/000", "entries"},
                                              {"idx/nebro.idx", index_header(2)},
                                              {"kept.bin", "the unit's own"},
                                              {"name/n", "names"},
                                              {"nebro.setup", ""},
                                              {"top.bin", "top"}}));
    EXPECT_EQ(body_of("DeviceFullDataConfirm"), "{\"id_relationship\":0,\"version\":12}\n");
    EXPECT_TRUE(fs::is_empty(temp.path())) << "download or work folder left";
    EXPECT_TRUE(logged("Free space on device: [0-9]+ bytes"));
    EXPECT_TRUE(logged("Free space on TEMP: [0-9]+ bytes"));
    EXPECT_TRUE(logged("download_file [0-9]+ms"));
    EXPECT_TRUE(logged("TAR::unPack [0-9]+ms"));
}

TEST_F(TarPackageInstall, AnArchiveThatReachesOutsideIsRefusedWith600AndNotConfirmed) {
    const files before = test::files_below(outer.path());
    std::vector<test::tar_builder> archives(3);
    archives[0].file("pkg/idx/nebro.idx", "x").file("pkg/../../escaped", "x").end();
    archives[1].header("pkg/idx", 0, '2', "", "../..").file("pkg/idx/escaped", "x").end();
    archives[2].file("pkg/a", "a").header("pkg/hard", 0, '1', "", "/etc/passwd").end();
    for (const test::tar_builder& archive : archives) {
        EXPECT_EQ(restore(archive.bytes(), 13), 600u);
        EXPECT_EQ(cloud.count("/files/nebro.tar"), 1u);
        EXPECT_EQ(body_of("DeviceFullDataConfirm"), "");
        EXPECT_EQ(test::files_below(outer.path()), before);
        EXPECT_TRUE(fs::is_empty(temp.path())) << "download or work folder left";
    }
    EXPECT_TRUE(logger.mentions(". Unpacking tar file failed."));
}

}  // namespace
}  // namespace orvel
