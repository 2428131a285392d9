// A simulated HX62 unit on the far side of a pseudo-terminal: flash of 4096-byte sectors,
// its storage block in sector 51, the read, erase and store commands and their replies, and
// faults to inject. It recognises commands with the agent's own packet parser.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "devices/serial/packet_reader.h"
#include "sim/pty_line.h"

namespace orvel::test {

struct hx62_faults {
    bool silent = false;           // neither answers nor acts
    unsigned dropped_replies = 0;  // the next replies are not sent
    unsigned pieces = 1;           // every reply goes out in this many writes
    byte_vector noise;             // sent before every reply
    bool garbled = false;          // the noise goes instead of every reply
    unsigned unplugged_after = 0;  // the line goes down on this command (0: never)
    bool other_id_first = false;   // a sound packet of another id before every reply
    unsigned bad_checksums = 0;    // the next replies carry a wrong sum
    std::uint8_t store_status = 0;
    int short_read_sector = -1;     // reads of this sector answer half a sector
    int corrupt_store_offset = -1;  // stored sectors keep this byte inverted
};

// One entry of the storage block, as the unit keeps it.
struct hx62_storage_entry {
    std::uint32_t uid = 1;
    std::uint32_t addr = 0;
    std::uint32_t size = 0;
    std::uint16_t fixed_record_size = 0;
    std::uint16_t fixed_records_num = 0;
};

class hx62_unit {
public:
    static constexpr std::size_t sector_size = 4096;

    // Blank flash (0xFF everywhere) without a storage block.
    hx62_unit();

    const std::string& port_path() const { return line_.path(); }
    // Its entry in the port list, as a CP210x bridge.
    std::string port_entry() const;

    void set_faults(const hx62_faults& faults);
    // The sector as given, padded with 0xFF.
    void set_sector(std::uint32_t sector, const byte_vector& content);
    byte_vector sector(std::uint32_t sector) const;
    // A storage block as the unit stores it: "GSTG", length, count, the entries, the sum.
    static byte_vector storage_block(const std::vector<hx62_storage_entry>& entries);
    void set_storage(const std::vector<hx62_storage_entry>& entries);

    // The commands received so far: their id and sector.
    struct command {
        std::uint8_t id;
        std::uint32_t sector;
    };
    std::vector<command> commands() const;
    // How many commands of that id came for the sector.
    std::size_t count(std::uint8_t id, std::uint32_t sector) const;
    // Sectors erased or stored to.
    std::vector<std::uint32_t> written_sectors() const;

private:
    void on_bytes(const std::uint8_t* bytes, std::size_t count);
    void act(const hx62_message& message);
    void reply(std::uint8_t id, const byte_vector& data);

    mutable std::mutex mutex_;
    std::map<std::uint32_t, byte_vector> flash_;
    hx62_faults faults_;
    std::vector<command> commands_;
    packet_reader parser_;
    // Last: its thread ends before the rest of the unit goes.
    pty_line line_;
};

}  // namespace orvel::test
