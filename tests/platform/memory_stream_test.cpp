#include "platform/memory_stream.h"

#include <gtest/gtest.h>

#include "base/failures.h"
#include "support/capture_logger.h"
#include "support/thrown_text.h"

namespace orvel {
namespace {

using test::thrown_text;

byte_vector bytes_of(const std::string& text) {
    return byte_vector(text.begin(), text.end());
}

TEST(MemoryStream, MovingPastTheEndGrowsTheBufferWithZeros) {
    memory_stream stream;
    stream.write(bytes_of("abc"));
    stream.seek(13);
    EXPECT_EQ(stream.size(), 13u);
    EXPECT_EQ(stream.tell(), 13u);
    EXPECT_EQ(stream.buffer(), (byte_vector{'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    stream.seek(1);
    EXPECT_EQ(stream.size(), 13u) << "a seek inside the buffer must not shrink it";
    stream.skip(2);
    EXPECT_EQ(stream.tell(), 3u);
    stream.skip(12);
    EXPECT_EQ(stream.size(), 15u);
    EXPECT_EQ(stream.tell(), 15u);
    EXPECT_EQ(stream.buffer()[14], 0);
}

TEST(MemoryStream, WritesOverwriteInTheMiddleAndExtendAtTheEnd) {
    memory_stream stream;
    stream.write(bytes_of("xyz"));
    stream.seek(2);
    stream.write("1234", 4);
    EXPECT_EQ(stream.text(), "xy1234");
    EXPECT_EQ(stream.tell(), 6u);

    stream.seek(1);
    stream.write(bytes_of("AB"));
    EXPECT_EQ(stream.text(), "xAB234");
    EXPECT_EQ(stream.tell(), 3u);

    stream.seek(stream.size());
    stream.write(bytes_of("!?"), 1);
    EXPECT_EQ(stream.text(), "xAB234!");
}

TEST(MemoryStream, WritingMoreThanTheVectorHoldsIsRefused) {
    test::capture_logger logger;
    memory_stream stream;
    EXPECT_EQ(thrown_text([&] { stream.write(bytes_of("abc"), 5); }), "write failed.");
    EXPECT_TRUE(logger.contains("write failed. toWrite: 5, size: 3"));
    EXPECT_EQ(stream.size(), 0u);
}

TEST(MemoryStream, AShortReadFailsAndKeepsThePosition) {
    test::capture_logger logger;
    memory_stream stream;
    stream.write(bytes_of("0123456"));
    stream.seek(3);
    char out[8] = {};
    EXPECT_EQ(thrown_text([&] { stream.read(out, 5); }), "read failed.");
    EXPECT_TRUE(logger.contains("read failed. pos: 3, toRead: 5, size: 7"));
    EXPECT_EQ(stream.tell(), 3u);

    stream.read(out, 4);
    EXPECT_EQ(std::string(out, 4), "3456");
    EXPECT_EQ(stream.tell(), 7u);
    stream.read(out, 0);
    EXPECT_EQ(stream.tell(), 7u);
}

TEST(MemoryStream, ReadSomeStopsAtTheEndWithoutFailing) {
    memory_stream stream;
    stream.write(bytes_of("hello"));
    stream.seek(2);
    char out[16] = {};
    std::uint32_t count = 99;
    stream.read_some(out, sizeof out, count);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::string(out, count), "llo");
    stream.read_some(out, sizeof out, count);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(stream.tell(), 5u);
}

TEST(MemoryStream, ContainerReadsFillTheirLengthAndNeverResize) {
    memory_stream stream;
    stream.write(bytes_of("abcdef"));
    stream.rewind();

    std::string text(4, '.');
    EXPECT_EQ(stream.read(text), 4u);
    EXPECT_EQ(text, "abcd");

    byte_vector data(5, '.');
    EXPECT_EQ(stream.read(data), 2u);
    EXPECT_EQ(data, (byte_vector{'e', 'f', '.', '.', '.'}));
}

TEST(MemoryStream, AnEmptyStreamIsNotValidAndRefusesReads) {
    memory_stream stream;
    EXPECT_FALSE(stream.is_valid());
    char out[4];
    std::uint32_t count = 0;
    std::string text(2, ' ');
    const std::string refused = "read failed. Stream is not valid.";
    EXPECT_EQ(thrown_text([&] { stream.read(out, 1); }), refused);
    EXPECT_EQ(thrown_text([&] { stream.read_some(out, 4, count); }), refused);
    EXPECT_EQ(thrown_text([&] { stream.read(text); }), refused);

    stream.write("ab", 2);
    EXPECT_TRUE(stream.is_valid());
    stream.clear();
    EXPECT_FALSE(stream.is_valid());
    EXPECT_EQ(stream.tell(), 0u);
    EXPECT_GE(stream.buffer().capacity(), 0x8000u) << "clear keeps the reserved capacity";
    EXPECT_EQ(thrown_text([&] { stream.read(out, 1); }), refused);
}

}  // namespace
}  // namespace orvel
