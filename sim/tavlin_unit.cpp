#include "sim/tavlin_unit.h"

#include "devices/serial/tavlin_message.h"

namespace orvel::test {

namespace {

// A Tavlin unit's empty filler packet, sent after a message whose sum ends in B0.
constexpr std::uint8_t filler = 0xC6;

std::size_t frame(const byte_vector& pending) {
    if (pending[0] != 0xA0 || (pending.size() > 1 && pending[1] != 0xA2)) {
        return framed_line::skip_byte;
    }
    return pending.size() < 4 ? 0 : ((pending[2] << 8) | pending[3]) + 8u;
}

std::string text_of(const byte_vector& message) {
    return std::string(message.begin() + 6, message.end() - 4);
}

bool sum_holds(const byte_vector& message) {
    std::uint32_t sum = 0;
    for (std::size_t i = 4; i < message.size() - 4; ++i) {
        sum += message[i];
    }
    sum &= 0x7FFF;
    return message[message.size() - 4] == sum >> 8 && message[message.size() - 3] == (sum & 0xFF);
}

}  // namespace

tavlin_unit::tavlin_unit()
    : line_(frame, [this](const byte_vector& message) { return answer(message); }) {}

void tavlin_unit::set_faults(const tavlin_faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

void tavlin_unit::set_slot(std::size_t number, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.at(number - 1) = tavlin_slot{name, {}, {}};
}

tavlin_slot tavlin_unit::slot(std::size_t number) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slots_.at(number - 1);
}

std::vector<std::string> tavlin_unit::texts(std::uint8_t type) const {
    std::vector<std::string> found;
    for (const byte_vector& message : line_.messages()) {
        if (message.size() >= 10 && message[5] == type && message[4] != filler) {
            found.push_back(text_of(message));
        }
    }
    return found;
}

byte_vector tavlin_unit::answer(const byte_vector& message) {
    // A garbled message, or the filler packet, gets no answer.
    if (message.size() < 10 || message[4] == filler || !sum_holds(message)) {
        return {};
    }
    const std::uint8_t type = message[5];
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string reply = act(type, text_of(message));
    byte_vector bytes;
    build_message(type == faults_.wrong_type_for ? type + 1 : type, reply, bytes);
    return bytes;
}

std::string tavlin_unit::act(std::uint8_t type, const std::string& text) {
    const auto slot_of = [&](const std::string& digits) -> tavlin_slot* {
        const unsigned long number = digits.empty() ? 0 : std::stoul(digits);
        return number >= 1 && number <= slot_count ? &slots_[number - 1] : nullptr;
    };
    const std::string before_comma = text.substr(0, text.find(','));
    switch (type) {
        case tavlin::course_name: {
            const tavlin_slot* slot = slot_of(before_comma);
            return slot != nullptr && !slot->name.empty() ? "0," + slot->name + "," : "1";
        }
        case tavlin::new_course: {
            tavlin_slot* slot = slot_of(before_comma);
            if (slot == nullptr) {
                return "1";
            }
            const std::size_t name_at = before_comma.size() + 1;
            *slot = tavlin_slot{text.substr(name_at, text.rfind(',') - name_at), {}, {}};
            return "0";
        }
        case tavlin::point:
        case tavlin::tees: {
            tavlin_slot* slot = slot_of(text.substr(0, 2));
            if (slot == nullptr) {
                return "1";
            }
            (type == tavlin::point ? slot->points : slot->tees).push_back(text);
            return "0";
        }
        default:
            return "0";
    }
}

}  // namespace orvel::test
