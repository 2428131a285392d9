#include "platform/stdio_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "base/failures.h"
#include "support/temp_folder.h"
#include "support/thrown_text.h"

namespace orvel {
namespace {

using test::thrown_text;

bool starts_with(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}

// Asks the flock utility, another process, whether it may take the lock right now.
bool outsider_may_lock(const std::string& path, bool shared) {
    const std::string command =
        std::string("flock -n ") + (shared ? "-s " : "-x ") + "'" + path + "' true";
    return std::system(command.c_str()) == 0;
}

TEST(StdioFile, OpenWithoutCreateNeedsAnExistingFile) {
    test::temp_folder folder("stdio");
    stdio_file file;
    const std::string missing = folder / "missing.bin";
    EXPECT_EQ(thrown_text([&] { file.open(missing, true, false); }),
              "File (" + missing + ") doesn't exist");
    EXPECT_EQ(thrown_text([&] { file.open(folder.path(), false, false); }),
              "File (" + folder.path() + ") doesn't exist");
    EXPECT_EQ(test::read_file(missing), "");

    const std::string opened = thrown_text([&] { file.open(folder.path(), true, true); });
    EXPECT_TRUE(starts_with(opened, "open failed: Is a directory (" + folder.path())) << opened;
    EXPECT_FALSE(file.is_open());

    file.open(missing, true, true);
    EXPECT_TRUE(file.is_open());
    EXPECT_EQ(file.path(), missing);
    file.close();
    EXPECT_FALSE(file.is_open());
    EXPECT_EQ(file.path(), "");
}

TEST(StdioFile, CreatesOwnerOnlyFilesAndNeverOpensThroughALink) {
    test::temp_folder folder("stdio");
    const std::string path = folder / "private.log";
    stdio_file file;
    file.open(path, true, true);
    file.close();
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const std::string victim = folder / "victim.txt";
    test::write_file(victim, "not yours");
    const std::string planted = folder / "planted.log";
    ASSERT_EQ(::symlink(victim.c_str(), planted.c_str()), 0);
    const std::string opened = thrown_text([&] { file.open(planted, true, true); });
    EXPECT_TRUE(starts_with(opened, "open failed: Too many levels of symbolic links")) << opened;
    EXPECT_TRUE(starts_with(thrown_text([&] { file.create(planted, true); }), "create failed"));
    EXPECT_EQ(test::read_file(victim), "not yours");
}

TEST(StdioFile, CreateKeepsAnExistingFileUnlessAskedToOverwrite) {
    test::temp_folder folder("stdio");
    const std::string path = folder / "kept.txt";
    test::write_file(path, "precious");
    stdio_file file;
    EXPECT_EQ(thrown_text([&] { file.create(path, false); }), "File (" + path + ") already exists");
    EXPECT_EQ(test::read_file(path), "precious");

    file.create(path, true);
    EXPECT_EQ(file.size(), 0u);
    ASSERT_EQ(std::fwrite("new", 1, 3, file.handle()), 3u);
    file.close();
    EXPECT_EQ(test::read_file(path), "new");
}

TEST(StdioFile, AnOpenWriterKeepsOtherOpenersOut) {
    test::temp_folder folder("stdio");
    const std::string path = folder / "held.bin";
    test::write_file(path, "content");

    stdio_file writer;
    writer.open(path, true, false);
    stdio_file second;
    const std::string refused = thrown_text([&] { second.open(path, false, false); });
    EXPECT_TRUE(starts_with(refused, "open failed: ")) << refused;
    EXPECT_NE(refused.find("(" + path + ")"), std::string::npos) << refused;
    const std::string truncating = thrown_text([&] { second.create(path, true); });
    EXPECT_TRUE(starts_with(truncating, "create failed: ")) << truncating;
    EXPECT_EQ(test::read_file(path), "content") << "a refused create must not cut the file";
    EXPECT_FALSE(outsider_may_lock(path, true));

    writer.close();
    EXPECT_TRUE(outsider_may_lock(path, false));
    second.open(path, true, false);
    EXPECT_TRUE(second.is_open());
}

TEST(StdioFile, ReadersShareTheFile) {
    test::temp_folder folder("stdio");
    const std::string path = folder / "shared.bin";
    test::write_file(path, "content");
    stdio_file first;
    stdio_file second;
    first.open(path, false, false);
    second.open(path, false, false);
    EXPECT_TRUE(outsider_may_lock(path, true));
    EXPECT_FALSE(outsider_may_lock(path, false));
    stdio_file writer;
    EXPECT_TRUE(starts_with(thrown_text([&] { writer.open(path, true, false); }), "open failed: "));
}

TEST(StdioFile, SizeKeepsThePositionAndClosedFilesFail) {
    test::temp_folder folder("stdio");
    const std::string path = folder / "sized.bin";
    test::write_file(path, "0123456789");
    stdio_file file;
    EXPECT_TRUE(starts_with(thrown_text([&] { file.size(); }), "size failed: "));
    file.open(path, false, false);
    file.seek(4, SEEK_SET);
    EXPECT_EQ(file.size(), 10u);
    EXPECT_EQ(file.tell(), 4u);
    EXPECT_EQ(std::fgetc(file.handle()), '4');

    EXPECT_NO_THROW(file.check(false, "read"));
    std::fseek(file.handle(), 0, SEEK_END);
    std::fgetc(file.handle());
    EXPECT_EQ(thrown_text([&] { file.check(true, "read"); }), "read failed: EOF (" + path + ")");
}

}  // namespace
}  // namespace orvel
