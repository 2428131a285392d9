// A simulated Vemo unit on a pseudo-terminal: the text commands, the XMODEM-CRC blocks of a
// course (each block's number and CRC checked) and the course it stored.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "sim/framed_line.h"

namespace orvel::test {

struct vemo_faults {
    bool busy = false;      // "$FCON" is answered "$BDCN"
    bool full = false;      // a new course is answered "$BDFS"
    bool no_start = false;  // "$STRT" is answered "$BDST" instead of 'C'
};

class vemo_unit {
public:
    vemo_unit();

    std::string port_entry() const { return line_.port_entry(); }
    framed_line& line() { return line_; }
    void set_faults(const vemo_faults& faults);

    // The names announced with "$NCFS", as sent.
    std::vector<std::string> announced() const;
    // The course bytes of the blocks taken since the last announcement.
    byte_vector course() const;
    std::size_t blocks() const;
    // Whether the transfer was ended with EOT.
    bool ended() const;

private:
    byte_vector answer(const byte_vector& message);

    mutable std::mutex mutex_;
    vemo_faults faults_;
    std::vector<std::string> announced_;
    byte_vector course_;
    std::size_t blocks_ = 0;
    bool ended_ = false;
    // Last: its thread ends before the rest goes.
    framed_line line_;
};

}  // namespace orvel::test
