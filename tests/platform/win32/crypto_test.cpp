#include "platform/crypto.h"

#include <gtest/gtest.h>

namespace orvel::platform {
namespace {

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

std::string base64(const std::string& text) {
    return base64_encode(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// The test cases of RFC 4231, HMAC-SHA-256.
TEST(Win32Crypto, HmacSha256MatchesThePublishedVectors) {
    std::vector<std::uint8_t> mac;
    ASSERT_TRUE(hmac_sha256(std::string(20, '\x0b'), "Hi There", mac));
    EXPECT_EQ(hex(mac), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");

    ASSERT_TRUE(hmac_sha256("Jefe", "what do ya want for nothing?", mac));
    EXPECT_EQ(hex(mac), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");

    // A key longer than the hash's block is hashed first.
    ASSERT_TRUE(hmac_sha256(std::string(131, '\xaa'),
                            "Test Using Larger Than Block-Size Key - Hash Key First", mac));
    EXPECT_EQ(hex(mac), "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
}

TEST(Win32Crypto, Base64MatchesThePublishedVectorsOnOneLine) {
    // RFC 4648, section 10.
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("f"), "Zg==");
    EXPECT_EQ(base64("fo"), "Zm8=");
    EXPECT_EQ(base64("foo"), "Zm9v");
    EXPECT_EQ(base64("foobar"), "Zm9vYmFy");
    const std::string encoded = base64(std::string(3000, '\xfb'));
    EXPECT_EQ(encoded.size(), 4000u);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(encoded.substr(0, 4), "+/v7");
}

}  // namespace
}  // namespace orvel::platform
