// The bytes the JT, Vemo and Tavlin protocols put on the wire, against vectors worked out
// by hand from the units' formats.
#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "devices/serial/jt_page.h"
#include "devices/serial/tavlin_message.h"
#include "devices/serial/xmodem.h"

namespace orvel {
namespace {

byte_vector counting(std::size_t size, std::uint8_t first) {
    byte_vector bytes(size);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

byte_vector crc_bytes(const std::uint8_t* bytes, std::size_t count) {
    const std::uint16_t crc = xmodem_crc(bytes, count);
    return {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc & 0xFF)};
}

TEST(XmodemCrc, CheckValueAndTheSumsOfAFewBytes) {
    const std::string digits = "123456789";
    EXPECT_EQ(xmodem_crc(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()),
              0x31C3);
    const std::uint8_t a = 'A';
    EXPECT_EQ(xmodem_crc(&a, 1), 0x58E5);
    EXPECT_EQ(xmodem_crc(nullptr, 0), 0x0000);
}

TEST(JtPage, PageThreeOfFortyIsFramedAndSealedWithItsCrc) {
    const byte_vector data = counting(119, 0x40);
    byte_vector page;
    ASSERT_EQ(build_page(3, 40, data.data(), data.size(), page), 128u);
    ASSERT_EQ(page.size(), 128u);
    EXPECT_EQ(byte_vector(page.begin(), page.begin() + 6),
              (byte_vector{0x01, 0x2C, 0x03, 0x2C, 0x28, 0x2C}));
    EXPECT_EQ(byte_vector(page.begin() + 6, page.begin() + 125), data);
    EXPECT_EQ(page[125], 0x2A);
    // The CRC covers the header and the '*' too.
    EXPECT_EQ(byte_vector(page.begin() + 126, page.end()), crc_bytes(page.data(), 126));

    // The last page of an image: 88 bytes, 97 in all.
    EXPECT_EQ(build_page(14, 14, data.data(), 88, page), 97u);
    EXPECT_EQ(page[2], 14);
    EXPECT_EQ(page[4], 14);
}

TEST(JtPage, ImageCommandNamesTheCourseAndTheHoleInTwoDigits) {
    byte_vector command;
    build_image_command("Pine Valley", 12, command);
    const std::string text = "$SENDIMAGE*Pine Valley,12";
    byte_vector expected(text.begin(), text.end());
    expected.push_back(0x00);
    EXPECT_EQ(command, expected);

    build_image_command("Pine Valley", 7, command);
    EXPECT_EQ(std::string(command.end() - 4, command.end()), std::string(",07\0", 4));
}

TEST(VemoBlock, BlockOneCarriesItsNumberItsComplementTheDataAndItsCrc) {
    const byte_vector data = counting(128, 0);
    byte_vector block;
    xmodem_block(1, data.data(), block);
    ASSERT_EQ(block.size(), 133u);
    EXPECT_EQ(byte_vector(block.begin(), block.begin() + 3), (byte_vector{0x01, 0x01, 0xFE}));
    EXPECT_EQ(byte_vector(block.begin() + 3, block.begin() + 131), data);
    // Unlike a JT page, the CRC covers the data alone.
    EXPECT_EQ(byte_vector(block.begin() + 131, block.end()), crc_bytes(data.data(), 128));

    xmodem_block(55, data.data(), block);
    EXPECT_EQ(byte_vector(block.begin(), block.begin() + 3), (byte_vector{0x01, 55, 200}));
}

TEST(TavlinMessage, ExitMessageAndTheFillerAfterASumEndingInB0) {
    byte_vector message;
    EXPECT_EQ(build_message(tavlin::leave, "", message), 10u);
    EXPECT_EQ(message, (byte_vector{0xA0, 0xA2, 0x00, 0x02, 0xB6, 0x61, 0x01, 0x17, 0xB0, 0xB3}));

    // B6 + 68 + "07+" sums to 0x1B0.
    EXPECT_EQ(build_message(tavlin::point, "07+", message), 23u);
    EXPECT_EQ(message,
              (byte_vector{0xA0, 0xA2, 0x00, 0x05, 0xB6, 0x68, '0',  '7',  '+',  0x01, 0xB0, 0xB0,
                           0xB3, 0xA0, 0xA2, 0x00, 0x02, 0xC6, 0x00, 0x00, 0xC6, 0xB0, 0xB3}));
}

TEST(TavlinMessage, ReplyIsTakenOnlyWhenFramedAsTheAnswerToItsMessage) {
    byte_vector reply;
    build_message(tavlin::course_name, "0,Pine,", reply);
    std::string text;
    ASSERT_TRUE(reply_of(reply, tavlin::course_name, text));
    EXPECT_EQ(text, "0,Pine,");
    // The sum is not checked; the filler after a reply is no harm.
    reply[reply.size() - 3] ^= 0xFF;
    EXPECT_TRUE(reply_of(reply, tavlin::course_name, text));
    build_message(tavlin::point, "07+", reply);
    ASSERT_TRUE(reply_of(reply, tavlin::point, text));
    EXPECT_EQ(text, "07+");

    build_message(tavlin::course_name, "0,Pine,", reply);
    EXPECT_FALSE(reply_of(reply, tavlin::new_course, text));
    byte_vector cut(reply.begin(), reply.end() - 1);
    EXPECT_FALSE(reply_of(cut, tavlin::course_name, text));
    byte_vector shifted = reply;
    shifted[0] = 0xA1;
    EXPECT_FALSE(reply_of(shifted, tavlin::course_name, text));
    // A length that runs past the bytes that came would read beyond them.
    byte_vector overlong = reply;
    overlong[3] = 0x40;
    EXPECT_FALSE(reply_of(overlong, tavlin::course_name, text));
    EXPECT_FALSE(reply_of(byte_vector{0xA0, 0xA2, 0x00, 0x02, 0xB6, 0x62, 0xB0, 0xB3},
                          tavlin::course_name, text));
}

}  // namespace
}  // namespace orvel
