#include "cloud/base64.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

byte_vector bytes(const std::string& text) {
    return byte_vector(text.begin(), text.end());
}

TEST(decode_base64, decodes_whole_groups_of_the_standard_alphabet) {
    EXPECT_EQ(decode_base64("TWFu"), bytes("Man"));
    EXPECT_EQ(decode_base64("+/+/"), (byte_vector{0xFB, 0xFF, 0xBF}));
    EXPECT_EQ(decode_base64(""), byte_vector{});
}

TEST(decode_base64, a_padded_last_group_gives_one_or_two_bytes) {
    EXPECT_EQ(decode_base64("TWFuTQ=="), bytes("ManM"));
    EXPECT_EQ(decode_base64("TWFuTWE="), bytes("ManMa"));
    // Unpadded short groups decode the same.
    EXPECT_EQ(decode_base64("TWFuTQ"), bytes("ManM"));
    EXPECT_EQ(decode_base64("TWFuTWE"), bytes("ManMa"));
    // A single character carries no whole byte.
    EXPECT_EQ(decode_base64("TWFuT"), bytes("Man"));
}

TEST(decode_base64, stops_at_the_first_pad_or_foreign_character) {
    EXPECT_EQ(decode_base64("TQ==TWFu"), bytes("M"));
    EXPECT_EQ(decode_base64("TWFu\nTWFu"), bytes("Man"));
    EXPECT_EQ(decode_base64("TWFu-_"), bytes("Man"));
}

}  // namespace
}  // namespace orvel
