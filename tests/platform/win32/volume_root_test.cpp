#include "platform/volume_root.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "base/failures.h"
#include "platform/stdio_file.h"
#include "support/capture_logger.h"
#include "support/temp_folder.h"

namespace orvel::platform {
namespace {

bool refused(const test::capture_logger& logger, const std::string& path, const std::string& what,
             const std::string& wanted) {
    return logger.mentions("Refused " + path + ": " + what + " stands there, not " + wanted);
}

TEST(Win32VolumeRoot, FilesArePlacedBelowTheRootAndWhatIsNoFileIsRefused) {
    test::temp_folder unit("unit");
    test::temp_folder computer("computer");
    test::write_file(computer / "source", "new content");
    test::write_file(unit / "crs", "a file");
    test::capture_logger logger;
    volume_root volume(unit.path());
    ASSERT_TRUE(volume.is_open());

    ASSERT_TRUE(volume.create_folders("a/b/c"));
    ASSERT_TRUE(volume.copy_in(computer / "source", "a/b/c.new"));
    ASSERT_TRUE(volume.replace_file("a/b/c.new", "a\\b\\c"));
    EXPECT_EQ(volume.entry("a/b/c").size, 11u);
    stdio_file file;
    file.open(volume, "a/b/c", true, false);
    file.close();
    std::vector<volume_entry> listed;
    ASSERT_TRUE(volume.list_folder("a/b/", listed));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].name, "c");
    EXPECT_EQ(test::read_file(unit / "a\\b\\c"), "new content");

    EXPECT_FALSE(volume.create_folders("crs/d00"));
    EXPECT_TRUE(refused(logger, unit / "crs", "a file", "a folder"));
    // The system's device names stand in every folder.
    for (const char* device : {"a/CON", "a/aux.txt", "a/Com1.GLF"}) {
        EXPECT_EQ(volume.entry(device).kind, entry_kind::other) << device;
        EXPECT_FALSE(volume.open_file(device, file_access::create).valid()) << device;
    }
    EXPECT_TRUE(refused(logger, unit / "a\\CON", "a device's name", "a regular file"));
    EXPECT_EQ(volume.entry("../x").kind, entry_kind::other);

    // A closed volume holds nothing, not even the working folder's files.
    volume.close();
    EXPECT_EQ(volume.entry("a/b/c").kind, entry_kind::missing);
}

// Where Wine can make a link (a junction for a folder), it is refused on the way.
TEST(Win32VolumeRoot, ALinkedFolderIsNotGoneThrough) {
    test::temp_folder unit("unit");
    test::temp_folder home("home");
    test::write_file(home / "profile", "the member's");
    // Making links takes a privilege (or developer mode); Wine answers but makes none.
    const bool made = ::CreateSymbolicLinkA((unit / "idx").c_str(), home.path().c_str(),
                                            SYMBOLIC_LINK_FLAG_DIRECTORY) != FALSE;
    const DWORD attributes = ::GetFileAttributesA((unit / "idx").c_str());
    if (!made || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "this system or user cannot make symbolic links";
    }
    test::capture_logger logger;
    volume_root volume(unit.path());
    EXPECT_FALSE(volume.open_file("idx/profile", file_access::update).valid());
    EXPECT_FALSE(volume.remove_file("idx/profile"));
    EXPECT_TRUE(refused(logger, unit / "idx", "a symbolic link or junction", "a folder"));
    EXPECT_EQ(test::read_file(home / "profile"), "the member's");
}

}  // namespace
}  // namespace orvel::platform
