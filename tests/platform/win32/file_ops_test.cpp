#include "platform/file_ops.h"
#include "platform/private_files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <limits>

#include "support/capture_logger.h"
#include "support/temp_folder.h"

namespace orvel::platform {
namespace {

bool is_folder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Holds a file open as another program would: no one else may write or delete it.
class holder {
public:
    explicit holder(const std::string& path)
        : handle_(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr)) {}
    ~holder() { ::CloseHandle(handle_); }
    holder(const holder&) = delete;
    holder& operator=(const holder&) = delete;
    bool holds() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

TEST(Win32Folders, CreateDirsMakesEveryParentAndWritesBackslashes) {
    test::temp_folder folder("dirs");
    std::string file_path = folder / "a\\b\\c.bin";
    EXPECT_TRUE(create_dirs(file_path));
    EXPECT_TRUE(is_folder(folder / "a\\b"));
    EXPECT_FALSE(exists(folder / "a\\b\\c.bin"));

    std::string slashed = folder / "x/y/";
    EXPECT_TRUE(create_dirs(slashed));
    EXPECT_TRUE(is_folder(folder / "x\\y"));
    EXPECT_EQ(slashed, folder / "x\\y\\");

    std::string relative = "no\\colon\\";
    EXPECT_FALSE(create_dirs(relative));
    EXPECT_FALSE(is_folder("no"));
}

TEST(Win32Folders, TheTemporaryFolderIsTheUsersAndReady) {
    const std::string folder = temp_dir();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_EQ(temp_file_path("x.log"), folder + "x.log");
    std::string problem;
    EXPECT_TRUE(prepare_temp_dir(problem)) << problem;
    EXPECT_TRUE(is_folder(folder));
}

// The member's certificate folder: under the profile's application data, made with its
// parents; a file where the folder should be is refused, and a replaced file is whole.
TEST(Win32Folders, MemberFolderIsMadeAndItsFilesReplacedWhole) {
    test::temp_folder folder("member");
    const std::string data = folder.path() + "Roaming";
    ::_putenv(("APPDATA=" + data).c_str());
    const std::string member = member_config_dir();
    EXPECT_EQ(member, data + "\\orvelsync\\");
    std::string problem;
    ASSERT_TRUE(prepare_private_dir(member, true, problem)) << problem;
    EXPECT_TRUE(is_folder(member));
    ASSERT_TRUE(replace_file(member + "localhost.key", "new key", true, problem)) << problem;
    ASSERT_TRUE(replace_file(member + "localhost.key", "newer key", true, problem)) << problem;
    EXPECT_EQ(test::read_file(member + "localhost.key"), "newer key");
    EXPECT_FALSE(exists(member + "localhost.key.new"));
    EXPECT_EQ(own_file_problem(member + "localhost.key", true), "");

    EXPECT_FALSE(prepare_private_dir(member + "localhost.key", false, problem));
    EXPECT_EQ(problem, member + "localhost.key is not a folder");
}

TEST(Win32Folders, FreeSpaceOfAFolderAndAllOnesForAMissingOne) {
    test::capture_logger logger;
    test::temp_folder folder("space");
    const std::uint64_t free = get_free_space(folder.path());
    EXPECT_GT(free, 0u);
    EXPECT_NE(free, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(get_free_space("Q:\\missing\\"), std::numeric_limits<std::uint64_t>::max());
    EXPECT_TRUE(logger.mentions("get_free_space failed: "));
}

TEST(Win32Folders, CopyingFolderFilesTakesTheTopFilesIntoANewFolder) {
    test::temp_folder folder("copy");
    std::string inner = folder / "from\\inner\\";
    ASSERT_TRUE(create_dirs(inner));
    test::write_file(folder / "from\\a.bin", "a");
    test::write_file(folder / "from\\inner\\b.bin", "b");
    EXPECT_TRUE(copy_folder_files(folder / "from\\", folder / "to\\made\\"));
    EXPECT_EQ(test::read_file(folder / "to\\made\\a.bin"), "a");
    EXPECT_FALSE(exists(folder / "to\\made\\inner"));
}

TEST(Win32Folders, SubfoldersComeWithTheBackslash) {
    test::temp_folder folder("subdirs");
    std::string nested = folder / "one\\two\\";
    create_dirs(nested);
    test::write_file(folder / "file.txt", "");
    std::vector<std::string> found;
    enum_subdirs([&](const std::string& path) { found.push_back(path); }, folder.path());
    EXPECT_EQ(found, std::vector<std::string>{folder / "one\\"});
}

TEST(Win32Files, CopyRenameAndRemoveSkipWhatIsNotThere) {
    test::temp_folder folder("files");
    EXPECT_TRUE(copy_file(folder / "missing", folder / "copy"));
    EXPECT_FALSE(exists(folder / "copy"));
    EXPECT_TRUE(remove(folder / "missing"));
    EXPECT_TRUE(remove_all(folder / "missing\\"));

    test::write_file(folder / "log", "old");
    test::write_file(folder / "copy_log", "older");
    EXPECT_TRUE(rename_file(folder / "log", folder / "copy_log"));
    EXPECT_EQ(test::read_file(folder / "copy_log"), "old");
    EXPECT_TRUE(copy_file(folder / "copy_log", folder / "upload"));
    EXPECT_TRUE(copy_file(folder / "copy_log", folder / "upload"));
    EXPECT_EQ(test::read_file(folder / "upload"), "old");
}

TEST(Win32Files, AFileAnotherProgramHoldsIsNotRemovedAndTheFailureSaysWhy) {
    test::capture_logger logger;
    test::temp_folder folder("held");
    std::string inner = folder / "tree\\inner\\";
    create_dirs(inner);
    const std::string held = folder / "tree\\inner\\held.bin";
    test::write_file(held, "busy");
    test::write_file(folder / "tree\\free.bin", "free");
    {
        const holder other(held);
        ASSERT_TRUE(other.holds());
        EXPECT_FALSE(remove(held));
        EXPECT_TRUE(logger.mentions("remove failed with message "));
        EXPECT_TRUE(logger.mentions("(system 32) for path " + held));

        EXPECT_FALSE(remove_all(folder / "tree"));
        EXPECT_TRUE(logger.mentions("remove_all failed with message "));
        EXPECT_TRUE(exists(held));
    }
    EXPECT_TRUE(remove_all(folder / "tree"));
    EXPECT_FALSE(exists(folder / "tree"));
}

}  // namespace
}  // namespace orvel::platform
