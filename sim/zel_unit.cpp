#include "sim/zel_unit.h"

#include <algorithm>
#include <sstream>

namespace orvel::test {

namespace {

// A command ends with its zero byte.
std::size_t frame(const byte_vector& pending) {
    const auto end = std::find(pending.begin(), pending.end(), 0);
    return end == pending.end() ? 0 : static_cast<std::size_t>(end - pending.begin()) + 1;
}

std::string text_of(const byte_vector& message) {
    return std::string(message.begin(), std::find(message.begin(), message.end(), 0));
}

// The keyword and the fields after it, split at commas; a point text keeps its commas.
std::vector<std::string> fields_of(const std::string& command) {
    std::vector<std::string> fields;
    std::istringstream in(command);
    std::string field;
    while (fields.size() < 3 && std::getline(in, field, ',')) {
        fields.push_back(field);
    }
    std::string rest;
    if (std::getline(in, rest, '\0')) {
        fields.back() += "," + rest;
    }
    return fields;
}

byte_vector reply(const std::string& text) {
    byte_vector bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

}  // namespace

zel_unit::zel_unit()
    : line_(frame, [this](const byte_vector& message) { return answer(message); }) {}

void zel_unit::set_faults(const zel_faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

void zel_unit::set_slot(std::size_t index, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.at(index) = zel_slot{name, 18, {}};
}

zel_slot zel_unit::slot(std::size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slots_.at(index);
}

std::vector<std::string> zel_unit::commands() const {
    std::vector<std::string> texts;
    for (const byte_vector& message : line_.messages()) {
        texts.push_back(text_of(message));
    }
    return texts;
}

std::size_t zel_unit::count(const std::string& keyword) const {
    const std::vector<std::string> all = commands();
    return static_cast<std::size_t>(std::count_if(
        all.begin(), all.end(), [&](const auto& text) { return text.rfind(keyword, 0) == 0; }));
}

byte_vector zel_unit::answer(const byte_vector& message) {
    const std::vector<std::string> fields = fields_of(text_of(message));
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string& keyword = fields[0];
    if (keyword == faults_.refused) {
        return reply("$BD" + keyword.substr(3, 2));
    }
    return reply(act(keyword, fields));
}

std::string zel_unit::act(const std::string& keyword, const std::vector<std::string>& fields) {
    const auto number = [&](std::size_t field) {
        return field < fields.size() ? std::stoul(fields[field]) : 0;
    };
    if (keyword == "$FCON") {
        return "$OKCN";
    }
    if (keyword == "$TEST") {
        return "$OKTS";
    }
    if (keyword == "$EXIT") {
        return "$OKEX";
    }
    if (keyword == "$CRNM") {
        const std::size_t slot = number(1);
        if (slot == faults_.nameless_slot) {
            return "$OKCN";
        }
        return "$OKCN," + slots_.at(slot - 1).name;
    }
    if (keyword == "$ECRS") {
        slots_.at(number(1) - 1) = zel_slot{};
        return "$OKEC";
    }
    if (keyword == "$NCRS") {
        // "$NCRS,<name>,<slot>,<holes>": the name may hold no comma here.
        pending_ = zel_slot{fields[1], 0, {}};
        std::istringstream rest(fields.size() > 2 ? fields[2] : "");
        std::string slot_text;
        std::string holes_text;
        std::getline(rest, slot_text, ',');
        std::getline(rest, holes_text);
        pending_index_ = std::stoul(slot_text) - 1;
        pending_.hole_count = static_cast<unsigned>(std::stoul(holes_text));
        return "$OKNC";
    }
    if (keyword == "$HOLE") {
        pending_.holes.emplace_back();
        return "$OKHL";
    }
    if (keyword == "$PINT") {
        if (pending_.holes.empty() || fields.size() < 3) {
            return "$BDPN";
        }
        pending_.holes.back().push_back(fields[2]);
        return "$OKPN";
    }
    if (keyword == "$WCRS") {
        slots_.at(pending_index_) = pending_;
        return "$OKSV";
    }
    return "$BDXX";
}

}  // namespace orvel::test
