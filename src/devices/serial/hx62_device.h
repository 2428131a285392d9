// The HX62 family's unit: flash sectors read, erased and written with framed packets, and
// the course update on top of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "devices/model_rows.h"
#include "devices/serial/comm_device.h"
#include "devices/serial/hx62_course.h"
#include "devices/serial/hx62_storage_block.h"
#include "devices/serial/packet_reader.h"

namespace orvel {

class HX62Device : public CommDevice {
public:
    // The model's keys descramble the course names it logs.
    HX62Device(const model_row& row, event_base& interrupt_event);

    std::string identity() override { return silicon_labs_bridge; }
    unsigned baud_rate() override { return 460800; }
    // Checks the course against the unit's storage directory, writes it into its sector(s)
    // with read-back verification and, when the service sent one, replaces the directory.
    bool write_course() override;
    sync_response& plain_response() override { return plain_response_; }
    sync_response& course_response() override { return course_response_; }
    // Logs the course's name.
    void check_course_data(std::uint32_t course_id, byte_vector data) override;

    // Up to 3 tries of writing the packet; raises 1500 when interrupted.
    bool sendCommand(const byte_vector& packet);
    // Up to 3 cycles of a send and 3 reads; on true reply() holds the matched packet.
    bool send_and_receive(const byte_vector& packet, std::uint8_t wanted);
    // Asks for the sector; the caller checks that the reply holds a whole sector.
    bool read_sector(std::uint32_t sector);
    // What storing a sector answers besides the unit's own nonzero status byte.
    enum sector_write_result : int {
        sector_stored = 0,
        sector_reply_malformed = 256,
        sector_no_image = -1,
        sector_erase_not_sent = -2,
        sector_store_unanswered = -3,
    };
    // Erases the sector and stores the image (at most one sector, padded with zeros): a
    // sector_write_result, or the unit's status byte when it refused the store.
    int write_sector(std::uint32_t sector, const std::uint8_t* image, std::size_t size);
    // Replaces length bytes at offset of the sector by the new ones, keeping the rest of
    // it; the bytes before and after (read back) go to previous and updated.
    bool patch_sector(std::uint32_t sector, std::uint32_t offset, std::size_t length,
                      std::uint8_t* previous, const std::uint8_t* bytes, std::uint8_t* updated);
    // Logs how the three versions of the course compare; true when the unit now holds the
    // downloaded one.
    bool compare_courses(std::uint32_t course_id, const std::uint8_t* previous,
                         const std::uint8_t* downloaded, const std::uint8_t* updated,
                         std::size_t length);

    const hx62_message& reply() const { return reader_.message(); }
    // The last reply is a whole sector read.
    bool reply_holds_sector() const;
    HX62Course& downloaded_course() { return course_response_.record; }

private:
    // Erases the sector and sends the store packet prepared in packet_.
    int store_prepared(std::uint32_t sector);
    // Where the course goes by the directory to be used, the unit's own or the service's;
    // false (logged) when it, or any course that directory lays out, would fall outside the
    // course area the unit's own directory gives.
    bool place_course(const storage_record& unit_layout, const storage_record& layout,
                      const HX62Course& record, std::uint32_t& sector, std::uint32_t& offset,
                      std::size_t& first) const;

    const model_row& row_;
    packet_reader reader_;
    byte_vector packet_;  // the read or store command being sent
    HX62SyncResponse course_response_;
    sync_response plain_response_;
    byte_vector sector_image_;
};

}  // namespace orvel
