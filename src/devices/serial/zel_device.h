// The Zel unit: plain-text commands, each answered by a text whose first five characters
// say whether it was taken. Ten course slots; a course goes as a name and hole count, then
// hole by hole its point texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devices/serial/comm_device.h"
#include "devices/serial/reply_reader.h"
#include "devices/serial/zel_course.h"

namespace orvel {

// The course name in the unit's reply to "$CRNM": the text after the first ',' behind the
// keyword (empty for a free slot). False when the reply has no such ','.
bool zel_held_name(const std::string& reply, std::string& held);

class ZelDevice : public CommDevice {
public:
    static constexpr unsigned slot_count = 10;
    // find_course_slot: every slot holds another course.
    static constexpr unsigned no_free_slot = 0xFFFFFFFF;
    // find_course_slot: a slot's name could not be read, so no slot may be overwritten.
    static constexpr unsigned slot_unreadable = 0xFFFFFFFE;

    explicit ZelDevice(event_base& interrupt_event);
    // Says goodbye to the unit when the port is open.
    ~ZelDevice() override;

    std::string identity() override { return prolific_bridge; }
    unsigned baud_rate() override { return 9600; }
    // Opens the port, connects and tests the connection.
    bool open(const std::string& location) override;
    void close() override;
    // Whether the unit answers on the open port.
    bool is_open() override;
    bool write_course() override;
    sync_response& plain_response() override { return plain_response_; }
    sync_response& course_response() override { return course_response_; }

    // Up to 5 tries of the bytes; with check, true only when the reply starts with the first
    // five characters of expected.
    bool exchange(const std::uint8_t* bytes, std::size_t count, const char* expected, bool check);
    // The 0-based slot that holds the name, else the lowest empty one, else no_free_slot;
    // slot_unreadable when a slot did not say its name.
    unsigned find_course_slot(const std::string& name);
    bool add_hole(unsigned hole, const std::vector<std::string>& points);
    ZelCourse& downloaded_course() { return course_response_.record; }

private:
    // Formats the command into the message buffer (bounded by it), with its zero byte.
    void compose(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Exchanges the composed command.
    bool send(const char* expected);
    std::string command_text() const;
    void leave();

    reply_reader reader_;
    byte_vector message_;
    sync_response plain_response_;
    ZelCourseResponse course_response_;
};

}  // namespace orvel
