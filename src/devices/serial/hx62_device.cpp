#include "devices/serial/hx62_device.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <optional>
#include <thread>

#include "base/failures.h"
#include "base/log_hub.h"
#include "devices/serial/hx62_course_name.h"
#include "devices/serial/hx62_packet.h"

namespace orvel {

namespace {

// A packet the bridge did not take whole is written again, this often in all.
constexpr unsigned send_tries = 3;
// The unit drops a command that comes while it is still busy: a reply that has not come
// after this many reads (2 s each) means the command is sent again, this many times.
constexpr unsigned receive_cycles = 3;
constexpr unsigned reads_per_cycle = 3;
// The unit acts on a command (erasing or writing flash takes longest) before it listens to
// the line again; anything sent sooner is lost.
constexpr std::chrono::milliseconds command_pause(1000);
// The unit commits a stored sector to flash after its reply; a read sooner can still give
// the old content.
constexpr std::chrono::milliseconds commit_pause(250);

// Course records lie from these sectors on; custom courses have their own area before the
// standard ones.
constexpr std::uint32_t custom_base_sector = 52;
constexpr std::uint32_t standard_base_sector = 77;

// Whole sectors that bytes from a sector's start fill, at least one.
std::uint64_t sectors_spanned(std::uint64_t bytes) {
    return bytes == 0 ? 1 : (bytes - 1) / hx62::sector_size + 1;
}

const char* equality(bool same) {
    return same ? "the same" : "different";
}

}  // namespace

HX62Device::HX62Device(const model_row& row, event_base& interrupt_event)
    : CommDevice(interrupt_event), row_(row) {
    packet_.reserve(hx62::max_payload + hx62::frame_overhead);
    sector_image_.reserve(hx62::sector_size);
}

bool HX62Device::sendCommand(const byte_vector& packet) {
    bool sent_whole = false;
    std::size_t sent = 0;
    for (unsigned attempt = 0; attempt < send_tries && !sent_whole; ++attempt) {
        log(3, "trying to send #%u", attempt);
        sent = port().write(packet.data(), packet.size());
        log(3, "Sent bytes: #%u", static_cast<unsigned>(sent));
        if (interrupt_event().wait(0)) {
            raise_sync_error(sync_error_code::interrupted);
        }
        std::this_thread::sleep_for(command_pause);
        sent_whole = sent == packet.size();
    }
    if (!sent_whole) {
        log(3, "sendCommand failed. To send: %zu. Last try sent: %zu", packet.size(), sent);
    }
    return sent_whole;
}

bool HX62Device::send_and_receive(const byte_vector& packet, std::uint8_t wanted) {
    bool matched = false;
    for (unsigned cycle = 0; cycle < receive_cycles && !matched; ++cycle) {
        if (!sendCommand(packet)) {
            return false;
        }
        for (unsigned read = 0; read < reads_per_cycle && !matched; ++read) {
            log(3, "trying to read #%u", cycle);
            reader_.reset();
            matched = reader_.read_packet(port(), wanted, interrupt_event());
            if (interrupt_event().wait(0)) {
                raise_sync_error(sync_error_code::interrupted);
            }
        }
    }
    return matched;
}

bool HX62Device::read_sector(std::uint32_t sector) {
    build_packet(read_command(hx62::sector_address(sector)), packet_);
    return send_and_receive(packet_, hx62::reply_data);
}

bool HX62Device::reply_holds_sector() const {
    return reply().id == hx62::reply_data && reply().data.size() == hx62::sector_size;
}

int HX62Device::write_sector(std::uint32_t sector, const std::uint8_t* image, std::size_t size) {
    if (image == nullptr || size > hx62::sector_size) {
        packet_.clear();
        return sector_no_image;
    }
    build_packet(store_command(hx62::sector_address(sector), image, size, 0x00), packet_);
    return store_prepared(sector);
}

int HX62Device::store_prepared(std::uint32_t sector) {
    if (packet_.empty()) {
        return sector_no_image;
    }
    byte_vector erase;
    build_packet(erase_command(hx62::sector_address(sector)), erase);
    if (!sendCommand(erase)) {
        return sector_erase_not_sent;
    }
    if (!send_and_receive(packet_, hx62::reply_store)) {
        return sector_store_unanswered;
    }
    const hx62_message& answer = reply();
    if (answer.id == hx62::reply_store && answer.data.size() >= 2 &&
        answer.data[0] == hx62::cmd_store) {
        return answer.data[1];
    }
    return sector_reply_malformed;
}

bool HX62Device::patch_sector(std::uint32_t sector, std::uint32_t offset, std::size_t length,
                              std::uint8_t* previous, const std::uint8_t* bytes,
                              std::uint8_t* updated) {
    log(3, "Sector: %d, Offsett: %d, Size: %d", static_cast<int>(sector), static_cast<int>(offset),
        static_cast<int>(length));
    // A short reply, or one of another kind, is no image of the sector: writing it back
    // would fill the rest of the sector with bytes never read from it.
    if (!read_sector(sector) || !reply_holds_sector()) {
        log(3, "Failed to read original sector content");
        return false;
    }
    sector_image_.assign(reply().data.begin(), reply().data.end());
    std::memcpy(previous, sector_image_.data() + offset, length);
    std::memcpy(sector_image_.data() + offset, bytes, length);
    const int result = write_sector(sector, sector_image_.data(), sector_image_.size());
    if (result != sector_stored) {
        log(3, "Failed to write sector with updated course: %d", result);
        return false;
    }
    std::this_thread::sleep_for(commit_pause);
    if (!read_sector(sector) || !reply_holds_sector()) {
        log(3, "Failed to read updated sector");
        return false;
    }
    std::memcpy(updated, reply().data.data() + offset, length);
    return true;
}

bool HX62Device::compare_courses(std::uint32_t course_id, const std::uint8_t* previous,
                                 const std::uint8_t* downloaded, const std::uint8_t* updated,
                                 std::size_t length) {
    const auto same = [length](const std::uint8_t* a, const std::uint8_t* b) {
        return std::memcmp(a, b, length) == 0;
    };
    log(3, "Original and downloaded courses are %s", equality(same(previous, downloaded)));
    log(3, "Updated and original courses are %s", equality(same(updated, previous)));
    const bool written = same(downloaded, updated);
    log(3, "Updated and downloaded courses are %s", equality(written));

    log(3, "\r\nOriginal course name: ");
    check_course_data(course_id, byte_vector(previous, previous + length));
    log(3, "\r\nDownloaded course name: ");
    check_course_data(course_id, byte_vector(downloaded, downloaded + length));
    if (written) {
        log(3, "\r\nUpdated course name: ");
        check_course_data(course_id, byte_vector(updated, updated + length));
    }
    return written;
}

bool HX62Device::place_course(const storage_record& unit_layout, const storage_record& layout,
                              const HX62Course& record, std::uint32_t& sector,
                              std::uint32_t& offset, std::size_t& first) const {
    const std::uint64_t position =
        std::uint64_t{layout.fixed_record_size} * static_cast<std::uint64_t>(record.index);
    const std::size_t size = record.glf.size();
    offset = static_cast<std::uint32_t>(position % hx62::sector_size);
    first = offset + size <= hx62::sector_size ? size : hx62::sector_size - offset;
    // The course is written into one sector image or two; a larger one would run past them.
    if (layout.fixed_record_size > hx62::sector_size || size - first > hx62::sector_size) {
        log(3, "Course record too large: record size %u, course %zu bytes at offset %u",
            layout.fixed_record_size, size, offset);
        return false;
    }
    // A directory from the service with records of another size would put this course
    // across its neighbours, and the unit would read every other course at a wrong place.
    if (layout.fixed_record_size != size) {
        log(3, "Storage block's record size %u is not the course's %zu bytes",
            layout.fixed_record_size, size);
        return false;
    }
    if (!record.custom && static_cast<std::uint32_t>(record.index) >= layout.fixed_records_num) {
        log(3, "Course index %d outside the unit's %u course records", record.index,
            layout.fixed_records_num);
        return false;
    }
    // The sectors the course area owns: custom courses those before the standard ones, the
    // standard courses as many as the unit's own directory fills. What the directory to be
    // written holds must stay inside, or the unit would later take the flash after its
    // course area for courses.
    const std::uint32_t base = record.custom ? custom_base_sector : standard_base_sector;
    const std::uint64_t area_end =
        record.custom
            ? standard_base_sector
            : standard_base_sector + sectors_spanned(std::uint64_t{unit_layout.fixed_record_size} *
                                                     unit_layout.fixed_records_num);
    const std::uint64_t reach =
        record.custom ? position + size
                      : std::uint64_t{layout.fixed_record_size} * layout.fixed_records_num;
    const std::uint64_t end = base + sectors_spanned(reach);
    if (end > area_end) {
        if (record.custom) {
            log(3, "Custom course index %d runs past the custom course area", record.index);
        } else {
            log(3,
                "Storage block of %u records of %u bytes reaches sector %" PRIu64
                ", the unit's course area ends at sector %" PRIu64,
                layout.fixed_records_num, layout.fixed_record_size, end - 1, area_end - 1);
        }
        return false;
    }
    sector = static_cast<std::uint32_t>(position / hx62::sector_size) + base;
    return true;
}

bool HX62Device::write_course() {
    HX62Course& record = course_response_.record;
    log(6, "response: %u %s,%s idx: %d, total: %d", record.id_course, record.course_name.c_str(),
        record.custom ? " custom" : "", record.index, record.totalCourses);
    record.index -= 1;
    if (record.index < 0) {
        return false;
    }

    log(3, "before getStorage");
    HX62StorageBlock storage;
    if (!read_sector(hx62::storage_sector) || !reply_holds_sector() ||
        !storage.load(reply().data)) {
        log(3, "Can't read storage");
        return false;
    }
    log(3, "after getStorage");
    if (storage.records.empty()) {
        log(3, "No storage records");
        return false;
    }
    for (std::size_t i = 0; i < storage.records.size(); ++i) {
        const storage_record& entry = storage.records[i];
        log(3, ">>>> Record #%zu, uid  = %d", i + 1, static_cast<int>(entry.uid));
        log(3, " addr = %d, size = %d", static_cast<int>(entry.addr), static_cast<int>(entry.size));
        log(3, " fixed record size = %d", static_cast<int>(entry.fixed_record_size));
        log(3, " fixed records num = %d", static_cast<int>(entry.fixed_records_num));
    }

    log(3, "before getFixRecSize check");
    const storage_record unit_layout = storage.records.front();
    if (record.glf.size() != unit_layout.fixed_record_size) {
        log(3, "Wrong glf size: %d, not %d", static_cast<int>(unit_layout.fixed_record_size),
            static_cast<int>(record.glf.size()));
        return false;
    }
    log(3, "before totalCourses check");
    if (record.totalCourses != static_cast<std::int32_t>(unit_layout.fixed_records_num)) {
        log(3, "Wrong course count: %d, not %d. Wrong sync index or device type?",
            static_cast<int>(unit_layout.fixed_records_num), record.totalCourses);
        if (record.custom) {
            raise_sync_error(sync_error_code::sync_index_not_repaired,
                             "Can't restore sync index type for the custom course");
        }
        throw sync_index_exception(static_cast<std::int32_t>(unit_layout.fixed_records_num));
    }
    if (!record.sector51.empty()) {
        log(5, "HX62StorageBlock::load");
        if (!storage.load(record.sector51)) {
            log(3, "Wrong storage format");
            return false;
        }
        log(3, "Updated sector 51");
    }

    std::uint32_t sector = 0;
    std::uint32_t offset = 0;
    std::size_t first = 0;
    if (!place_course(unit_layout, storage.records.front(), record, sector, offset, first)) {
        return false;
    }
    const std::size_t size = record.glf.size();
    byte_vector previous(size);
    byte_vector updated(size);
    if (!patch_sector(sector, offset, first, previous.data(), record.glf.data(), updated.data())) {
        return false;
    }
    if (first < size && !patch_sector(sector + 1, 0, size - first, previous.data() + first,
                                      record.glf.data() + first, updated.data() + first)) {
        return false;
    }
    if (!compare_courses(record.id_course, previous.data(), record.glf.data(), updated.data(),
                         size)) {
        return false;
    }
    if (record.sector51.empty()) {
        return true;
    }
    block_sector_packet(hx62::sector_address(hx62::storage_sector), storage, packet_);
    return store_prepared(hx62::storage_sector) == sector_stored;
}

void HX62Device::check_course_data(std::uint32_t course_id, byte_vector data) {
    const std::optional<std::string> name =
        descramble_course(data, course_id, *row_.key_a, *row_.key_b);
    if (name && row_.numbered_names) {
        log(3, "%d: %s", static_cast<int>(course_id), name->c_str());
    } else if (name) {
        log(3, "%s", name->c_str());
    }
}

}  // namespace orvel
