#include "platform/stdio_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

#include "base/failures.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

std::string thrown_text(const std::function<void()>& action) {
    try {
        action();
    } catch (const intl_exception& e) {
        return e.message();
    }
    return "";
}

// Whether another program could open the file with the given access, sharing everything.
bool other_may_open(const std::string& path, DWORD access) {
    const HANDLE handle =
        ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(handle);
    return true;
}

TEST(Win32StdioFile, AnOpenFileMayBeReadButNotWrittenByOthers) {
    test::temp_folder folder("share");
    const std::string path = folder / "OrvelSync2_Service.log";
    stdio_file log;
    log.open(path, true, true);
    ASSERT_GE(std::fputs("line\n", log.handle()), 0);
    std::fflush(log.handle());
    EXPECT_TRUE(other_may_open(path, GENERIC_READ));
    EXPECT_FALSE(other_may_open(path, GENERIC_WRITE));
    EXPECT_EQ(test::read_file(path), "line\n");
    log.close();
    EXPECT_TRUE(other_may_open(path, GENERIC_WRITE));
}

TEST(Win32StdioFile, AFileAWriterHoldsIsRefusedAndNeverCut) {
    test::temp_folder folder("held");
    const std::string path = folder / "held.bin";
    test::write_file(path, "content");
    stdio_file first;
    first.open(path, true, false);
    stdio_file second;
    const std::string refused = thrown_text([&] { second.open(path, false, false); });
    EXPECT_EQ(refused.rfind("open failed: ", 0), 0u) << refused;
    EXPECT_NE(refused.find("(" + path + ")"), std::string::npos) << refused;
    const std::string truncating = thrown_text([&] { second.create(path, true); });
    EXPECT_EQ(truncating.rfind("create failed: ", 0), 0u) << truncating;
    first.close();
    EXPECT_EQ(test::read_file(path), "content") << "a refused create must not cut the file";

    // Readers that deny writing may share the file.
    stdio_file reader;
    reader.open(path, false, false);
    second.open(path, false, false);
    EXPECT_EQ(second.size(), 7u);
}

TEST(Win32StdioFile, ModesOpenCreateAndRefuseAsTheyShould) {
    test::temp_folder folder("modes");
    stdio_file file;
    const std::string missing = folder / "missing.bin";
    EXPECT_EQ(thrown_text([&] { file.open(missing, true, false); }),
              "File (" + missing + ") doesn't exist");
    file.open(missing, true, true);
    EXPECT_TRUE(file.is_open());
    file.close();
    EXPECT_EQ(thrown_text([&] { file.create(missing, false); }),
              "File (" + missing + ") already exists");

    const std::string kept = folder / "kept.txt";
    test::write_file(kept, "precious");
    file.open(kept, false, false);
    EXPECT_EQ(std::fgetc(file.handle()), 'p');
    file.close();
    EXPECT_EQ(test::read_file(kept), "precious");
    file.create(kept, true);
    EXPECT_EQ(file.size(), 0u);
    file.close();
}

TEST(Win32StdioFile, PositionsSizeAndTruncationBeyondTwoGigabytesOfOffset) {
    test::temp_folder folder("positions");
    stdio_file file;
    file.create(folder / "data.bin", true);
    ASSERT_EQ(std::fwrite("0123456789", 1, 10, file.handle()), 10u);
    file.seek(4, SEEK_SET);
    EXPECT_EQ(file.tell(), 4u);
    file.truncate_here();
    EXPECT_EQ(file.size(), 4u);
    EXPECT_EQ(file.tell(), 4u) << "size keeps the position";
    // Past 2 GiB the 64-bit calls are needed; nothing is written there, so it takes no room.
    file.seek(0x90000000LL, SEEK_SET);
    EXPECT_EQ(file.tell(), 0x90000000ULL);
    file.close();
    EXPECT_EQ(test::read_file(folder / "data.bin"), "0123");
}

TEST(Win32StdioFile, ALinkIsNeverFollowed) {
    test::temp_folder folder("link");
    const std::string victim = folder / "victim.txt";
    test::write_file(victim, "not yours");
    const std::string planted = folder / "planted.log";
    // Making links takes a privilege (or developer mode); Wine answers but makes none.
    const bool made = ::CreateSymbolicLinkA(planted.c_str(), victim.c_str(), 0) != FALSE;
    const DWORD attributes = ::GetFileAttributesA(planted.c_str());
    if (!made || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "this system or user cannot make symbolic links";
    }
    stdio_file file;
    const std::string opened = thrown_text([&] { file.open(planted, true, true); });
    EXPECT_EQ(opened.rfind("open failed: ", 0), 0u) << opened;
    EXPECT_EQ(test::read_file(victim), "not yours");
}

}  // namespace
}  // namespace orvel
