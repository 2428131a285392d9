// HX62 framing against byte vectors: the commands as they go on the wire and the parser on
// the ways replies arrive broken up, late or among noise.
#include <gtest/gtest.h>

#include "devices/serial/hx62_packet.h"
#include "devices/serial/packet_reader.h"

namespace orvel {
namespace {

byte_vector framed(const byte_vector& payload) {
    byte_vector packet;
    build_packet(payload, packet);
    return packet;
}

byte_vector joined(std::initializer_list<byte_vector> parts) {
    byte_vector all;
    for (const byte_vector& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

void feed(packet_reader& reader, const byte_vector& bytes) {
    ASSERT_TRUE(reader.append(bytes.data(), bytes.size()));
}

const byte_vector store_reply = framed({0x31, 0x30, 0x00});

TEST(Hx62Packet, CommandsForSector51GoOnTheWireAsTheUnitExpects) {
    EXPECT_EQ(framed(read_command(hx62::sector_address(51))),
              (byte_vector{0xA0, 0xA2, 0x00, 0x07, 0x33, 0x00, 0x30, 0x03, 0x00, 0x00, 0x10, 0x00,
                           0x76, 0xB0, 0xB3}));
    EXPECT_EQ(framed(erase_command(hx62::sector_address(51))),
              (byte_vector{0xA0, 0xA2, 0x00, 0x05, 0x32, 0x00, 0x30, 0x03, 0x00, 0x00, 0x65, 0xB0,
                           0xB3}));

    const byte_vector image(100, 0xAB);
    const byte_vector store = framed(store_command(hx62::sector_address(78), image.data(), 100, 0));
    ASSERT_EQ(store.size(), 4110u);
    EXPECT_EQ(byte_vector(store.begin(), store.begin() + 10),
              (byte_vector{0xA0, 0xA2, 0x10, 0x06, 0x30, 0x00, 0xE0, 0x04, 0x00, 0x00}));
    EXPECT_EQ(store[10], 0xAB);
    EXPECT_EQ(store[109], 0xAB);
    EXPECT_EQ(store[110], 0x00);  // padded with zeros to a whole sector
    // 0x30 + 0xE0 + 0x04 + 100 * 0xAB = 17376 = 0x43E0.
    EXPECT_EQ(store[4106], 0x43);
    EXPECT_EQ(store[4107], 0xE0);
}

TEST(Hx62Packet, SumKeepsFifteenBits) {
    const byte_vector payload(300, 0xFF);  // 76500 = 0x12AD4
    EXPECT_EQ(hx62::payload_sum(payload.data(), payload.size()), 0x2AD4);
}

TEST(Hx62Parser, ReplySplitOverReadsMatchesWhenItsLastByteArrives) {
    packet_reader reader;
    const byte_vector reply = framed({0x34, 1, 2, 3, 4, 5});
    // Cut inside the start, inside the length, and just before the end.
    const std::size_t cuts[] = {1, 3, reply.size() - 1, reply.size()};
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        feed(reader, byte_vector(reply.begin() + from, reply.begin() + cut));
        const auto result = reader.match_packet(0x34);
        EXPECT_EQ(result, cut == reply.size() ? packet_reader::matched : packet_reader::need_more)
            << cut;
        from = cut;
    }
    EXPECT_EQ(reader.message().id, 0x34u);
    EXPECT_EQ(reader.message().data, (byte_vector{1, 2, 3, 4, 5}));
    EXPECT_TRUE(reader.received().empty());
}

TEST(Hx62Parser, NoiseBeforeTheStartIsDroppedAndNoiseAloneIsDiscarded) {
    packet_reader reader;
    // Noise with the start bytes in it: a lone A0, and A0 A2 with an impossible length.
    const byte_vector noise{0x11, 0xA0, 0x00, 0xA0, 0xA2, 0x7F, 0xFF, 0x55};
    feed(reader, joined({noise, byte_vector(store_reply.begin(), store_reply.begin() + 5)}));
    EXPECT_EQ(reader.match_packet(0x31), packet_reader::need_more);
    EXPECT_EQ(reader.received(), byte_vector(store_reply.begin(), store_reply.begin() + 5));
    feed(reader, byte_vector(store_reply.begin() + 5, store_reply.end()));
    EXPECT_EQ(reader.match_packet(0x31), packet_reader::matched);
    EXPECT_EQ(reader.message().data, (byte_vector{0x30, 0x00}));

    feed(reader, {0x01, 0x02, 0xA2});
    EXPECT_EQ(reader.match_packet(0x31), packet_reader::no_start);
    EXPECT_TRUE(reader.received().empty());
}

TEST(Hx62Parser, PacketOfAnotherIdIsSkippedWhole) {
    packet_reader reader;
    // The other packet's payload holds a whole store reply: skipping it byte by byte
    // would find that one.
    const byte_vector other_payload = joined({{0x35}, store_reply});
    const byte_vector wanted = framed({0x31, 0x30, 0x07});
    feed(reader, joined({framed(other_payload), wanted}));
    EXPECT_EQ(reader.match_packet(0x31), packet_reader::matched);
    EXPECT_EQ(reader.message().data, (byte_vector{0x30, 0x07}));
    EXPECT_TRUE(reader.received().empty());

    // Any id is taken when none is wanted.
    feed(reader, framed(other_payload));
    EXPECT_EQ(reader.match_packet(0), packet_reader::matched);
    EXPECT_EQ(reader.message().id, 0x35u);
}

TEST(Hx62Parser, OverlongLengthsAndBadSumsAreNoise) {
    packet_reader reader;
    // A length of 4103 is one more than any packet has.
    feed(reader, joined({{0xA0, 0xA2, 0x10, 0x07, 0x34}, store_reply}));
    EXPECT_EQ(reader.match_packet(0x31), packet_reader::matched);
    EXPECT_EQ(reader.message().data, (byte_vector{0x30, 0x00}));

    // This payload sums to 0xFE35; the sender sends 0x7E35, so a sum with bit 15 set is
    // never a match.
    byte_vector payload{0x34};
    payload.insert(payload.end(), 255, 0xFF);
    byte_vector high = framed(payload);
    high[high.size() - 4] |= 0x80;
    feed(reader, high);
    EXPECT_NE(reader.match_packet(0x34), packet_reader::matched);
    byte_vector wrong_sum = framed(payload);
    wrong_sum[wrong_sum.size() - 3] ^= 0x01;
    byte_vector no_end = framed(payload);
    no_end.back() = 0xB4;
    feed(reader, joined({wrong_sum, no_end, framed(payload)}));
    EXPECT_EQ(reader.match_packet(0x34), packet_reader::matched);
    EXPECT_EQ(reader.message().data.size(), 255u);
}

TEST(Hx62Parser, LongestPacketFitsAndBytesPastTheReserveAreRefused) {
    packet_reader reader;
    const byte_vector image(4096, 0x5A);
    const byte_vector store = framed(store_command(0, image.data(), image.size(), 0));
    feed(reader, store);
    EXPECT_EQ(reader.match_packet(0x30), packet_reader::matched);
    EXPECT_EQ(reader.message().data.size(), 4101u);

    feed(reader, byte_vector(8000, 0x00));
    EXPECT_FALSE(reader.append(store.data(), 300));
    EXPECT_EQ(reader.received().size(), 8000u);
}

}  // namespace
}  // namespace orvel
