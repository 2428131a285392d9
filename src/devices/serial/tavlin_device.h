// The Tavlin unit: framed messages of a type and a short text. Forty course slots; a course
// goes as a new-course message, then one message per point text and one per hole's tees.
#pragma once

#include <cstdint>
#include <string>

#include "devices/serial/comm_device.h"
#include "devices/serial/reply_reader.h"
#include "devices/serial/tavlin_course.h"

namespace orvel {

class TavlinDevice : public CommDevice {
public:
    static constexpr unsigned slot_count = 40;
    // new_course: no slot was had or the unit refused the course.
    static constexpr unsigned no_slot = 0xFFFFFFFF;

    explicit TavlinDevice(event_base& interrupt_event);
    // Says goodbye to the unit when the port is open.
    ~TavlinDevice() override;

    std::string identity() override { return prolific_bridge; }
    unsigned baud_rate() override { return 38400; }
    // Opens the port and tests the connection.
    bool open(const std::string& location) override;
    void close() override;
    bool write_course() override;
    sync_response& plain_response() override { return plain_response_; }
    sync_response& course_response() override { return course_response_; }

    // Up to 10 tries of the message; true when the reply text starts with '0'. Throws
    // intl_exception "Incorrect response from device" for a reply that is not framed as
    // the answer to it.
    bool exchange(std::uint8_t type, const std::string& text);
    // The slot (1-based) that holds the name, else the lowest free one; raises 1000 when
    // all hold other courses. no_slot when a slot did not answer at all.
    unsigned find_course_slot(const std::string& name);
    // The slot the course was created in, or no_slot.
    unsigned new_course(const std::string& name);
    bool send_holes(unsigned slot);
    TavlinCourse& downloaded_course() { return course_response_.record; }

private:
    void leave();

    reply_reader reader_;
    byte_vector message_;
    // The text of the last reply.
    std::string reply_;
    sync_response plain_response_;
    TavlinCourseResponse course_response_;
};

}  // namespace orvel
