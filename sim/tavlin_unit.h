// A simulated Tavlin unit on a pseudo-terminal: forty course slots, the framed messages
// (each one's sum checked) and their replies, and the courses it stored. Its replies are
// framed with the agent's own message builder.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/framed_line.h"

namespace orvel::test {

struct tavlin_faults {
    std::uint8_t wrong_type_for = 0;  // replies to messages of this type echo another type
};

struct tavlin_slot {
    std::string name;  // empty: a free slot
    std::vector<std::string> points;
    std::vector<std::string> tees;
};

class tavlin_unit {
public:
    static constexpr std::size_t slot_count = 40;

    tavlin_unit();

    std::string port_entry() const { return line_.port_entry(); }
    framed_line& line() { return line_; }
    void set_faults(const tavlin_faults& faults);

    // Slots by number, 1 to 40.
    void set_slot(std::size_t number, const std::string& name);
    tavlin_slot slot(std::size_t number) const;
    // The texts of the messages of that type received, in order.
    std::vector<std::string> texts(std::uint8_t type) const;

private:
    byte_vector answer(const byte_vector& message);
    // The reply text: "0" when taken.
    std::string act(std::uint8_t type, const std::string& text);

    mutable std::mutex mutex_;
    tavlin_faults faults_;
    std::array<tavlin_slot, slot_count> slots_;
    // Last: its thread ends before the rest goes.
    framed_line line_;
};

}  // namespace orvel::test
