// The Vemo unit: short text commands ending in a carriage return, and the course itself sent
// as 55 XMODEM-CRC blocks of 128 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cloud/course.h"
#include "cloud/course_response.h"
#include "devices/serial/comm_device.h"
#include "devices/serial/reply_reader.h"

namespace orvel {

// The course data goes to the unit as it is.
class VemoCourse : public course {
public:
    // Cuts the name to the 16 characters the unit shows.
    bool parse(const Json::Value& root) override;
};

class VemoCourseResponse : public course_response<VemoCourse> {};

class VemoDevice : public CommDevice {
public:
    // 55 blocks of 128 bytes.
    static constexpr std::size_t course_size = 7040;

    explicit VemoDevice(event_base& interrupt_event);
    // Says goodbye to the unit when the port is open.
    ~VemoDevice() override;

    std::string identity() override { return prolific_bridge; }
    unsigned baud_rate() override { return 115200; }
    // Opens the port and connects, a second time after an exit when the first is refused.
    bool open(const std::string& location) override;
    void close() override;
    bool write_course() override;
    sync_response& plain_response() override { return plain_response_; }
    sync_response& course_response() override { return course_response_; }

    // Up to 5 tries of the bytes; true when the reply starts with the first `compared`
    // bytes of expected.
    bool exchange(const std::uint8_t* bytes, std::size_t count, const char* expected,
                  std::size_t compared);
    // Announces the course (spaces in the name become '_'); raises 1000 when refused.
    bool new_course(const std::string& name);
    VemoCourse& downloaded_course() { return course_response_.record; }

private:
    bool connect();
    // Whether the last reply starts with these bytes.
    bool reply_starts(const char* text, std::size_t length) const;
    void leave();

    reply_reader reader_;
    byte_vector message_;
    sync_response plain_response_;
    VemoCourseResponse course_response_;
};

}  // namespace orvel
