// A simulated JT unit on a pseudo-terminal: takes the connect and new-course commands, the
// course pages and the hole image commands and pages, checks every page's CRC, and keeps
// what it stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/framed_line.h"

namespace orvel::test {

struct jt_faults {
    unsigned refused_page = 0;  // this course page is answered with NAK (0x15)
    bool full = false;          // "$SEND*" is answered with '"': no room for a course
};

class jt_unit {
public:
    jt_unit();

    std::string port_entry() const { return line_.port_entry(); }
    framed_line& line() { return line_; }
    void set_faults(const jt_faults& faults);

    // The data of the last course's pages, in page order.
    byte_vector course() const;
    // Each "$SENDIMAGE*" command as text (without its zero byte) and the image that followed.
    std::vector<std::string> image_commands() const;
    std::vector<byte_vector> images() const;

private:
    static std::size_t frame(const byte_vector& pending);
    byte_vector answer(const byte_vector& message);
    byte_vector take_page(const byte_vector& page);

    mutable std::mutex mutex_;
    jt_faults faults_;
    byte_vector course_;
    std::vector<std::string> image_commands_;
    std::vector<byte_vector> images_;
    byte_vector* sequence_ = nullptr;  // where the pages that come now go
    // Last: its thread ends before the rest goes.
    framed_line line_;
};

}  // namespace orvel::test
