// The HX62 storage block: its checksum, what load accepts and refuses, and save against the
// unit's own encoding of the block.
#include <gtest/gtest.h>

#include "devices/serial/hx62_packet.h"
#include "devices/serial/hx62_storage_block.h"
#include "sim/hx62_unit.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

using test::hx62_storage_entry;
using test::hx62_unit;

const std::vector<hx62_storage_entry> two_entries = {{7, 0x4D000, 900000, 1000, 900},
                                                     {0x01020304, 0x34000, 70000, 512, 25}};

TEST(Hx62StorageBlock, ChecksumIsTheRunningSumOfRunningSums) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    const block_sum sum = block_checksum(abc, 3);
    EXPECT_EQ(sum.a, 0x26);
    EXPECT_EQ(sum.b, 0x4A);
}

TEST(Hx62StorageBlock, LoadsWhatTheUnitStoresAndSavesItBackByteForByte) {
    const byte_vector stored = hx62_unit::storage_block(two_entries);
    HX62StorageBlock block;
    ASSERT_TRUE(block.load(stored));
    ASSERT_EQ(block.records.size(), 2u);
    EXPECT_EQ(block.records[1].uid, 0x01020304u);
    EXPECT_EQ(block.records[1].addr, 0x34000u);
    EXPECT_EQ(block.records[1].size, 70000u);
    EXPECT_EQ(block.records[0].fixed_record_size, 1000u);
    EXPECT_EQ(block.records[0].fixed_records_num, 900u);

    byte_vector saved(4096, 0xEE);
    EXPECT_EQ(block.save(saved.data(), 4, saved.size() - 4), stored.size());
    EXPECT_EQ(byte_vector(saved.begin() + 4, saved.begin() + 4 + stored.size()), stored);
    EXPECT_EQ(saved[4 + stored.size()], 0xEE);
    EXPECT_EQ(block.save(saved.data(), 0, stored.size() - 1), 0u);
}

TEST(Hx62StorageBlock, CountsOutsideOneTo255AreRefusedSilently) {
    test::capture_logger logger;
    HX62StorageBlock block;
    ASSERT_TRUE(block.load(hx62_unit::storage_block(two_entries)));

    byte_vector none = hx62_unit::storage_block({});
    none.resize(32, 0xFF);
    EXPECT_FALSE(block.load(none));
    const std::vector<hx62_storage_entry> many(256, hx62_storage_entry{1, 2, 3, 4, 5});
    EXPECT_FALSE(block.load(hx62_unit::storage_block(many)));
    const std::vector<hx62_storage_entry> most(255, hx62_storage_entry{1, 2, 3, 4, 5});
    EXPECT_TRUE(block.load(hx62_unit::storage_block(most)));
    EXPECT_TRUE(logger.lines().empty());
    EXPECT_EQ(block.records.size(), 255u);
}

TEST(Hx62StorageBlock, LongerLengthIsAcceptedAndCoveredByTheSum) {
    // Length 40 for one record (20 needed): the sum covers 44 bytes.
    byte_vector bytes = hx62_unit::storage_block({{9, 8, 7, 6, 5}});
    bytes.resize(24);  // without its sum
    bytes[4] = 40;
    bytes.resize(44, 0x5A);
    const block_sum sum = block_checksum(bytes.data(), bytes.size());
    bytes.push_back(sum.a);
    bytes.push_back(sum.b);
    HX62StorageBlock block;
    ASSERT_TRUE(block.load(bytes));
    ASSERT_EQ(block.records.size(), 1u);
    EXPECT_EQ(block.records[0].fixed_records_num, 5u);

    bytes[30] ^= 0x01;  // inside the length, after the record
    EXPECT_FALSE(block.load(bytes));
    EXPECT_FALSE(block.load(bytes.data(), bytes.size() - 1));  // the sum cut off
}

TEST(Hx62StorageBlock, WrongSignatureIsLoggedWithItsBytes) {
    test::capture_logger logger;
    byte_vector bytes = hx62_unit::storage_block(two_entries);
    bytes[0] = 'X';
    HX62StorageBlock block;
    EXPECT_FALSE(block.load(bytes));
    EXPECT_EQ(logger.messages(),
              (std::vector<std::string>{"Wrong signature at storage block", "Expected: GSTG",
                                        "Present: XSTG (", "58", "53", "54", "47", ")"}));
    EXPECT_FALSE(block.load(bytes.data(), 19));  // too short to hold anything
}

TEST(Hx62StorageBlock, SectorPacketIsTheBlockThenFF) {
    HX62StorageBlock block;
    byte_vector packet{1, 2, 3};
    block_sector_packet(hx62::sector_address(51), block, packet);
    EXPECT_TRUE(packet.empty());  // nothing to store for an empty block

    ASSERT_TRUE(block.load(hx62_unit::storage_block(two_entries)));
    block_sector_packet(hx62::sector_address(51), block, packet);
    ASSERT_EQ(packet.size(), 4110u);
    const byte_vector stored = hx62_unit::storage_block(two_entries);
    EXPECT_EQ(byte_vector(packet.begin() + 10, packet.begin() + 10 + stored.size()), stored);
    EXPECT_EQ(packet[10 + stored.size()], 0xFF);
    EXPECT_EQ(packet[4105], 0xFF);
}

}  // namespace
}  // namespace orvel
