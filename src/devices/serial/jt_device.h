// The JT unit: a course goes as 40 CRC-checked pages, then each hole image as 14 more, every
// page acknowledged by a single byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "devices/serial/comm_device.h"
#include "devices/serial/jt_course.h"
#include "devices/serial/reply_reader.h"

namespace orvel {

class JTDevice : public CommDevice {
public:
    explicit JTDevice(event_base& interrupt_event);

    std::string identity() override { return prolific_bridge; }
    unsigned baud_rate() override { return 57600; }
    // Opens the port and asks the unit to take a course.
    bool open(const std::string& location) override;
    bool write_course() override;
    sync_response& plain_response() override { return plain_response_; }
    sync_response& course_response() override { return course_response_; }

    // Up to 5 tries of the message; true when the unit's reply byte is the expected one.
    bool exchange(const std::uint8_t* bytes, std::size_t count, std::uint8_t expected);
    // The image command and pages of every hole image the course counts.
    bool send_hole_images();
    JTCourse& downloaded_course() { return course_response_.record; }

private:
    // The pages of one sequence: all but the last acknowledged by ACK, the last by EOT.
    bool send_pages(const std::uint8_t* data, std::uint8_t total, std::size_t last_length,
                    const char* page_failure, const char* final_failure);
    // A course too short for what it says it holds is never sent.
    bool holds_its_images(const JTCourse& record) const;

    reply_reader reader_;
    byte_vector message_;
    sync_response plain_response_;
    JTCourseResponse course_response_;
};

}  // namespace orvel
