#include "platform/volume_root.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/failures.h"
#include "platform/stdio_file.h"
#include "support/capture_logger.h"
#include "support/tar_archive.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using platform::entry_kind;
using platform::file_access;

class VolumeRoot : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(unit);
        test::write_file(home / ".profile", "the member's profile");
        home_before = test::files_below(home.path());
    }

    bool refused(const std::string& name, const std::string& what, const std::string& wanted) {
        return logger.mentions("Refused " + unit + name + ": " + what + " stands there, not " +
                               wanted);
    }

    test::temp_folder outer{"volume-outer"};
    test::temp_folder home{"volume-home"};
    const std::string unit = outer / "unit/";
    std::vector<std::pair<std::string, std::string>> home_before;
    test::capture_logger logger;
};

TEST_F(VolumeRoot, NoPartOfANameIsReachedThroughALink) {
    fs::create_directory_symlink(home.path(), unit + "idx");
    fs::create_symlink(home / ".profile", unit + "SETUP.KM3");
    test::write_file(outer / "source", "new");
    platform::volume_root volume(unit);
    ASSERT_TRUE(volume.is_open());

    EXPECT_EQ(volume.entry("SETUP.KM3").kind, entry_kind::other);
    EXPECT_TRUE(refused("SETUP.KM3", "a symbolic link", "a regular file"));
    for (const file_access access : {file_access::read, file_access::create}) {
        EXPECT_FALSE(volume.open_file("SETUP.KM3", access).valid());
        EXPECT_FALSE(volume.open_file("idx/.profile", access).valid());
        EXPECT_EQ(errno, EPERM);
    }
    EXPECT_TRUE(refused("idx", "a symbolic link", "a folder"));
    stdio_file file;
    EXPECT_THROW(file.create(volume, "SETUP.KM3", true), intl_exception);
    EXPECT_FALSE(volume.create_folders("idx/sub/"));
    EXPECT_FALSE(volume.remove_file("idx/.profile"));
    EXPECT_FALSE(volume.copy_in(outer / "source", "idx/.profile.new"));
    test::write_file(unit + "new", "new");
    EXPECT_FALSE(volume.replace_file("new", "idx/.profile"));
    EXPECT_EQ(volume.entry("../volume-home/.profile").kind, entry_kind::other);

    EXPECT_EQ(test::files_below(home.path()), home_before);
    EXPECT_TRUE(fs::is_symlink(unit + "SETUP.KM3"));
}

TEST_F(VolumeRoot, AFifoOrASocketIsRefusedWithoutWaitingForAPeer) {
    fs::create_directory(unit + "idx");
    ASSERT_EQ(::mkfifo((unit + "idx/nebro.idx").c_str(), 0600), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (unit + "sock").c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    platform::volume_root volume(unit);

    for (const file_access access : {file_access::read, file_access::update, file_access::create}) {
        EXPECT_FALSE(volume.open_file("idx/nebro.idx", access).valid());
        EXPECT_FALSE(volume.open_file("sock", access).valid());
    }
    EXPECT_TRUE(refused("idx/nebro.idx", "a FIFO", "a regular file"));
    EXPECT_TRUE(refused("sock", "a socket", "a regular file"));
    stdio_file file;
    EXPECT_THROW(file.open(volume, "idx/nebro.idx", false, false), intl_exception);
    ::close(listener);
}

TEST_F(VolumeRoot, AFileThatStandsInAFoldersPlaceIsRefusedAndRegularFilesPass) {
    test::write_file(unit + "crs", "a file");
    test::write_file(outer / "source", "new content");
    platform::volume_root volume(unit);
    EXPECT_FALSE(volume.create_folders("crs/d00"));
    EXPECT_TRUE(refused("crs", "a file", "a folder"));

    ASSERT_TRUE(volume.create_folders("a/b/c"));
    ASSERT_TRUE(volume.copy_in(outer / "source", "a/b/c.new"));
    ASSERT_TRUE(volume.replace_file("a/b/c.new", "a/b/c"));
    const platform::volume_entry placed = volume.entry("a/b/c");
    EXPECT_EQ(placed.kind, entry_kind::file);
    EXPECT_EQ(placed.size, 11u);
    EXPECT_EQ(test::read_file(unit + "a/b/c"), "new content");
    EXPECT_TRUE(volume.remove_file("a/b/c"));
    EXPECT_TRUE(volume.remove_file("a/b/c"));  // gone already
    EXPECT_FALSE(fs::exists(unit + "a/b/c"));
}

}  // namespace
}  // namespace orvel
