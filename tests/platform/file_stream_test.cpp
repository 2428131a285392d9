#include "platform/file_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "base/failures.h"
#include "support/capture_logger.h"
#include "support/temp_folder.h"
#include "support/thrown_text.h"

namespace orvel {
namespace {

using test::thrown_text;

byte_vector bytes_of(const std::string& text) {
    return byte_vector(text.begin(), text.end());
}

TEST(FileStream, CreateNewTruncatesWhileFlagsZeroKeepTheContent) {
    test::temp_folder folder("fstream");
    const std::string path = folder / "data.bin";
    test::write_file(path, "old content");
    {
        file_stream stream(path, 0);
        EXPECT_EQ(stream.size(), 11u);
        EXPECT_EQ(stream.tell(), 0u);
        stream.write(bytes_of("OLD"));
    }
    EXPECT_EQ(test::read_file(path), "OLD content");
    {
        file_stream stream(path, file_stream::create_new);
        EXPECT_EQ(stream.size(), 0u);
        stream.write(bytes_of("fresh"));
    }
    EXPECT_EQ(test::read_file(path), "fresh");

    const std::string missing = folder / "missing.bin";
    {
        file_stream stream(missing, 0);
        EXPECT_TRUE(stream.is_valid());
        EXPECT_EQ(stream.size(), 0u);
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(missing));
}

TEST(FileStream, ClearLeavesAnEmptyFileAtPositionZero) {
    test::temp_folder folder("fstream");
    const std::string path = folder / "cleared.bin";
    test::write_file(path, "some bytes to lose");
    file_stream stream(path, 0);
    stream.seek(5);
    stream.clear();
    EXPECT_EQ(stream.tell(), 0u);
    EXPECT_EQ(stream.size(), 0u);
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    stream.write(bytes_of("ab"));
    EXPECT_EQ(stream.size(), 2u);
}

TEST(FileStream, ShortReadsFailWithTheEndOfFileText) {
    test::temp_folder folder("fstream");
    const std::string path = folder / "short.bin";
    test::write_file(path, "abcdef");
    file_stream stream(path, 0);
    stream.seek(2);
    char out[16] = {};
    std::uint32_t count = 0;
    stream.read_some(out, sizeof out, count);
    EXPECT_EQ(count, 4u) << "read_some takes what is left";
    EXPECT_EQ(std::string(out, count), "cdef");
    EXPECT_EQ(thrown_text([&] { stream.read_some(out, sizeof out, count); }),
              "read failed: EOF (" + path + ")");

    stream.seek(3);
    EXPECT_EQ(thrown_text([&] { stream.read(out, 4); }), "read failed: EOF (" + path + ")");

    stream.rewind();
    std::string text(4, ' ');
    EXPECT_EQ(stream.read(text), 4u);
    EXPECT_EQ(text, "abcd");
    byte_vector data(8, 0);
    EXPECT_EQ(stream.read(data), 2u);
    EXPECT_EQ(data.size(), 8u);
    EXPECT_EQ(thrown_text([&] { stream.read(data); }), "read failed: EOF (" + path + ")");
}

TEST(FileStream, ReadsAndWritesMayFollowEachOther) {
    test::temp_folder folder("fstream");
    const std::string path = folder / "mixed.bin";
    {
        file_stream stream(path, file_stream::create_new);
        stream.write(bytes_of("abcde"));
        stream.seek(0);
        char one = 0;
        stream.read(&one, 1);
        EXPECT_EQ(one, 'a');
        stream.write(bytes_of("X"));
        stream.read(&one, 1);
        EXPECT_EQ(one, 'c');
        EXPECT_EQ(stream.tell(), 3u);
    }
    EXPECT_EQ(test::read_file(path), "aXcde");
}

TEST(FileStream, WritingMoreThanTheVectorHoldsIsRefused) {
    test::temp_folder folder("fstream");
    test::capture_logger logger;
    file_stream stream(folder / "guard.bin", file_stream::create_new);
    EXPECT_EQ(thrown_text([&] { stream.write(bytes_of("abc"), 4); }), "write failed.");
    EXPECT_TRUE(logger.contains("write failed. toWrite: 4, size: 3"));
    stream.write(bytes_of("abc"), 2);
    EXPECT_EQ(stream.size(), 2u);
}

TEST(FileStream, PositionsPastTheWidestSeekStepLandRight) {
    test::temp_folder folder("fstream");
    const std::string path = folder / "sparse.bin";
    file_stream stream(path, file_stream::create_new);
    stream.seek(0x80000001u);
    EXPECT_EQ(stream.tell(), 0x80000001u);
    stream.write(bytes_of("Z"));
    EXPECT_EQ(stream.size(), 0x80000002u);

    stream.seek(1);
    stream.skip(0x80000000u);
    EXPECT_EQ(stream.tell(), 0x80000001u);
    char out = 0;
    stream.read(&out, 1);
    EXPECT_EQ(out, 'Z');

    stream.rewind();
    stream.skip(0x7FFFFFFFu);
    EXPECT_EQ(stream.tell(), 0x7FFFFFFFu);
    stream.skip(0xFFFFFFFFu - 0x7FFFFFFFu);
    EXPECT_EQ(stream.tell(), 0xFFFFFFFFu);
}

TEST(FileStream, ScratchFilesVanishWithTheirStream) {
    test::temp_folder folder("fstream");
    const std::string scratch = folder / "scratch.tmp";
    const std::string kept = folder / "kept.tmp";
    {
        file_stream a(scratch, file_stream::create_new | file_stream::delete_on_close);
        file_stream b(kept, file_stream::create_new);
        a.write(bytes_of("x"));
        b.write(bytes_of("y"));
        EXPECT_TRUE(std::filesystem::exists(scratch));
    }
    EXPECT_FALSE(std::filesystem::exists(scratch));
    EXPECT_EQ(test::read_file(kept), "y");
}

TEST(FileStream, AFileHeldByAnotherStreamCannotBeOpened) {
    test::temp_folder folder("fstream");
    const std::string path = folder / "held.bin";
    file_stream first(path, file_stream::create_new);
    first.write(bytes_of("mine"));
    const std::string refused = thrown_text([&] { file_stream second(path, 0); });
    EXPECT_EQ(refused.rfind("open failed: ", 0), 0u) << refused;
    first.rewind();
    char out[4];
    first.read(out, 4);
    EXPECT_EQ(std::string(out, 4), "mine");
}

}  // namespace
}  // namespace orvel
