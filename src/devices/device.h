// The part of a unit model that talks to the hardware: a serial port or files on a volume.
#pragma once

#include <cstdint>
#include <string>

#include "cloud/sync_response.h"
#include "platform/data_stream.h"

namespace orvel {

class device {
public:
    virtual ~device() = default;

    // Serial models: the text the bridge's name contains; volume models: the marker file.
    virtual std::string identity() = 0;
    virtual bool open(const std::string& location) = 0;
    virtual void close() = 0;
    virtual bool is_open() = 0;
    // Writes the course held by course_response() to the unit.
    virtual bool write_course() = 0;
    // The current UTC time as "YYYY-MM-DD hh:mm:ss".
    virtual std::string timestamp();
    // Where the unit's own simple cloud exchanges are parsed.
    virtual sync_response& plain_response() = 0;
    // The model's course answer, into which a course download is parsed.
    virtual sync_response& course_response() = 0;
    virtual void check_course_data(std::uint32_t course_id, byte_vector data);
};

}  // namespace orvel
