#include "sim/hx62_unit.h"

#include <algorithm>

#include "devices/serial/hx62_packet.h"

namespace orvel::test {

namespace {

constexpr std::uint8_t other_id = 0x35;

std::uint32_t little_endian(const byte_vector& data, std::size_t at) {
    return data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) |
           (static_cast<std::uint32_t>(data[at + 3]) << 24);
}

void put(byte_vector& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

}  // namespace

hx62_unit::hx62_unit()
    : line_([this](const std::uint8_t* bytes, std::size_t count) { on_bytes(bytes, count); }) {}

std::string hx62_unit::port_entry() const {
    return line_.port_entry("Silicon Labs CP210x USB to UART Bridge");
}

void hx62_unit::set_faults(const hx62_faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

void hx62_unit::set_sector(std::uint32_t sector, const byte_vector& content) {
    byte_vector image = content;
    image.resize(sector_size, 0xFF);
    std::lock_guard<std::mutex> lock(mutex_);
    flash_[sector] = image;
}

byte_vector hx62_unit::sector(std::uint32_t sector) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = flash_.find(sector);
    return found != flash_.end() ? found->second : byte_vector(sector_size, 0xFF);
}

byte_vector hx62_unit::storage_block(const std::vector<hx62_storage_entry>& entries) {
    byte_vector block{'G', 'S', 'T', 'G'};
    put(block, static_cast<std::uint32_t>(16 * entries.size() + 4), 2);
    put(block, static_cast<std::uint32_t>(entries.size()), 2);
    for (const hx62_storage_entry& entry : entries) {
        put(block, entry.uid, 4);
        put(block, entry.addr, 4);
        put(block, entry.size, 4);
        put(block, entry.fixed_record_size, 2);
        put(block, entry.fixed_records_num, 2);
    }
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    for (const std::uint8_t byte : block) {
        a = static_cast<std::uint8_t>(a + byte);
        b = static_cast<std::uint8_t>(b + a);
    }
    block.push_back(a);
    block.push_back(b);
    return block;
}

void hx62_unit::set_storage(const std::vector<hx62_storage_entry>& entries) {
    set_sector(51, storage_block(entries));
}

std::vector<hx62_unit::command> hx62_unit::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::size_t hx62_unit::count(std::uint8_t id, std::uint32_t sector) const {
    const std::vector<command> all = commands();
    return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), [&](const command& c) {
        return c.id == id && c.sector == sector;
    }));
}

std::vector<std::uint32_t> hx62_unit::written_sectors() const {
    std::vector<std::uint32_t> sectors;
    for (const command& c : commands()) {
        if (c.id != hx62::cmd_read &&
            std::find(sectors.begin(), sectors.end(), c.sector) == sectors.end()) {
            sectors.push_back(c.sector);
        }
    }
    return sectors;
}

void hx62_unit::on_bytes(const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!parser_.append(bytes, count)) {
        parser_.reset();
        return;
    }
    while (parser_.match_packet(0) == packet_reader::matched) {
        act(parser_.message());
    }
}

void hx62_unit::act(const hx62_message& message) {
    if (message.data.size() < 4) {
        return;
    }
    const std::uint32_t sector = little_endian(message.data, 0) / sector_size;
    commands_.push_back({static_cast<std::uint8_t>(message.id), sector});
    if (faults_.unplugged_after != 0 && commands_.size() >= faults_.unplugged_after) {
        line_.hang_up();
        return;
    }
    if (faults_.silent) {
        return;
    }
    byte_vector& image = flash_[sector];
    image.resize(sector_size, 0xFF);
    switch (message.id) {
        case hx62::cmd_read: {
            byte_vector data = image;
            if (static_cast<int>(sector) == faults_.short_read_sector) {
                data.resize(sector_size / 2);
            }
            reply(hx62::reply_data, data);
            break;
        }
        case hx62::cmd_erase:
            image.assign(sector_size, 0xFF);
            break;
        case hx62::cmd_store:
            // Flash only clears bits: a sector stored without an erase keeps old zeros.
            for (std::size_t i = 0; i < sector_size && 5 + i < message.data.size(); ++i) {
                image[i] &= message.data[5 + i];
            }
            if (faults_.corrupt_store_offset >= 0) {
                image[static_cast<std::size_t>(faults_.corrupt_store_offset)] ^= 0xFF;
            }
            reply(hx62::reply_store, {hx62::cmd_store, faults_.store_status});
            break;
        default:
            break;
    }
}

void hx62_unit::reply(std::uint8_t id, const byte_vector& data) {
    if (faults_.dropped_replies > 0) {
        --faults_.dropped_replies;
        return;
    }
    byte_vector payload(data.size() + 1);
    payload[0] = id;
    std::copy(data.begin(), data.end(), payload.begin() + 1);
    byte_vector wire = faults_.noise;
    if (faults_.garbled) {
        line_.send(wire.data(), wire.size(), faults_.pieces);
        return;
    }
    if (faults_.other_id_first) {
        byte_vector other;
        build_packet(byte_vector{other_id, 0x01, 0x02}, other);
        wire.insert(wire.end(), other.begin(), other.end());
    }
    byte_vector packet;
    build_packet(payload, packet);
    if (faults_.bad_checksums > 0) {
        --faults_.bad_checksums;
        packet[packet.size() - 3] ^= 0x01;
    }
    wire.insert(wire.end(), packet.begin(), packet.end());
    line_.send(wire.data(), wire.size(), faults_.pieces);
}

}  // namespace orvel::test
