// A simulated Zel unit on a pseudo-terminal: ten course slots, the text commands and their
// answers, and the courses it stored.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "sim/framed_line.h"

namespace orvel::test {

struct zel_faults {
    std::string refused;         // commands with this keyword are answered "$BDxx"
    unsigned nameless_slot = 0;  // "$CRNM" of this slot number is answered without a ','
};

struct zel_slot {
    std::string name;  // empty: a free slot
    unsigned hole_count = 0;
    std::vector<std::vector<std::string>> holes;  // point texts, hole by hole
};

class zel_unit {
public:
    static constexpr std::size_t slot_count = 10;

    zel_unit();

    std::string port_entry() const { return line_.port_entry(); }
    framed_line& line() { return line_; }
    void set_faults(const zel_faults& faults);

    // Slots by 0-based index.
    void set_slot(std::size_t index, const std::string& name);
    zel_slot slot(std::size_t index) const;
    // Every command received, as text without its zero byte.
    std::vector<std::string> commands() const;
    // How many commands began with the keyword.
    std::size_t count(const std::string& keyword) const;

private:
    byte_vector answer(const byte_vector& message);
    std::string act(const std::string& keyword, const std::vector<std::string>& fields);

    mutable std::mutex mutex_;
    zel_faults faults_;
    std::array<zel_slot, slot_count> slots_;
    zel_slot pending_;  // the course being created
    std::size_t pending_index_ = 0;
    // Last: its thread ends before the rest goes.
    framed_line line_;
};

}  // namespace orvel::test
