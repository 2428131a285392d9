// What HX62 units send: the first byte with its top bit set reads the rest as a storage
// block, else it is the wanted id (0: any) and the second byte sizes the pieces the rest comes
// in. A matched packet is one that came, framed and summed as the unit frames it, of the
// wanted id; a loaded block saves to one that loads to the same records.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "devices/serial/hx62_packet.h"
#include "devices/serial/hx62_storage_block.h"
#include "devices/serial/packet_reader.h"
#include "fuzz/fuzz_check.h"

namespace {

bool same_records(const std::vector<orvel::storage_record>& a,
                  const std::vector<orvel::storage_record>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].uid != b[i].uid || a[i].addr != b[i].addr || a[i].size != b[i].size ||
            a[i].fixed_record_size != b[i].fixed_record_size ||
            a[i].fixed_records_num != b[i].fixed_records_num) {
            return false;
        }
    }
    return true;
}

void load_block(const std::uint8_t* data, std::size_t size) {
    orvel::HX62StorageBlock block;
    if (!block.load(data, size)) {
        FUZZ_CHECK(block.records.empty());
        return;
    }
    FUZZ_CHECK(!block.records.empty() && block.records.size() <= 255);
    orvel::byte_vector sector(orvel::hx62::sector_size, 0xFF);
    const std::size_t saved = block.save(sector.data(), 0, sector.size());
    FUZZ_CHECK(saved == 16 * block.records.size() + 10 && saved <= size);
    orvel::HX62StorageBlock again;
    FUZZ_CHECK(again.load(sector) && same_records(again.records, block.records));
}

void match_packets(std::uint8_t wanted, std::size_t piece, const std::uint8_t* data,
                   std::size_t size) {
    orvel::packet_reader reader;
    const orvel::byte_vector sent(data, data + size);
    orvel::byte_vector framed;
    for (std::size_t at = 0; at < size; at += piece) {
        if (!reader.append(data + at, std::min(piece, size - at))) {
            continue;
        }
        while (reader.match_packet(wanted) == orvel::packet_reader::matched) {
            const orvel::hx62_message& message = reader.message();
            FUZZ_CHECK(wanted == 0 || message.id == wanted);
            FUZZ_CHECK(message.data.size() < orvel::hx62::max_payload);
            orvel::byte_vector payload{static_cast<std::uint8_t>(message.id)};
            payload.insert(payload.end(), message.data.begin(), message.data.end());
            orvel::build_packet(payload, framed);
            FUZZ_CHECK(std::search(sent.begin(), sent.end(), framed.begin(), framed.end()) !=
                       sent.end());
        }
        FUZZ_CHECK(reader.received().size() <= orvel::packet_reader::received_reserve);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    if (data[0] & 0x80) {
        load_block(data + 1, size - 1);
    } else {
        match_packets(data[0] & 0x3F, 1 + std::size_t{data[1]} * 17, data + 2, size - 2);
    }
    return 0;
}
