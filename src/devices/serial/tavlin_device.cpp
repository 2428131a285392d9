#include "devices/serial/tavlin_device.h"

#include <algorithm>
#include <cstdio>

#include "base/failures.h"
#include "base/log_hub.h"
#include "devices/serial/tavlin_message.h"

namespace orvel {

namespace {

// A Tavlin unit answers within a second; one busy storing the previous point misses a
// message, which is then written again, up to ten times.
constexpr exchange_rules tavlin_rules{10, 1, 0, 1000, ""};

// The text with its first two characters replaced by the slot's two digits.
std::string in_slot(const std::string& text, const char* digits) {
    return std::string(digits) + (text.size() > 2 ? text.substr(2) : std::string());
}

}  // namespace

TavlinDevice::TavlinDevice(event_base& interrupt_event)
    : CommDevice(interrupt_event), reader_(0xB3) {
    message_.reserve(1024);
}

TavlinDevice::~TavlinDevice() {
    leave();
}

bool TavlinDevice::exchange(std::uint8_t type, const std::string& text) {
    build_message(type, text, message_);
    if (!exchange_reply(reader_, message_.data(), message_.size(), tavlin_rules)) {
        return false;
    }
    reply_.clear();
    if (!reply_of(reader_.received(), type, reply_)) {
        throw intl_exception("Incorrect response from device");
    }
    if (!reply_.empty() && reply_[0] == '0') {
        return true;
    }
    log(3, "Matching response failed. Received: %s.", reply_.c_str());
    return false;
}

bool TavlinDevice::open(const std::string& location) {
    if (!CommDevice::open(location)) {
        return false;
    }
    return exchange(tavlin::test, "test,");
}

void TavlinDevice::leave() {
    exit_connection([this] { return exchange(tavlin::leave, std::string()); });
}

void TavlinDevice::close() {
    leave();
    CommDevice::close();
}

unsigned TavlinDevice::find_course_slot(const std::string& name) {
    unsigned free = slot_count + 1;
    for (unsigned slot = 1; slot <= slot_count; ++slot) {
        if (!exchange(tavlin::course_name, std::to_string(slot) + ",")) {
            // A slot that never answered may hold a course: taking it for free could
            // overwrite that course.
            if (!unit_answered()) {
                log(3, "Getting course name failed (idx: %u)", slot);
                return no_slot;
            }
            free = std::min(free, slot);
            continue;
        }
        std::string held;
        if (!held_course_name(reply_, held)) {
            log(3, "Incorrect course name response (idx: %u)", slot);
            continue;
        }
        if (held.compare(0, name.size(), name) == 0) {
            return slot;
        }
    }
    if (free <= slot_count) {
        return free;
    }
    log(3, "No free course slot on the unit");
    raise_sync_error(sync_error_code::device_protocol);
}

unsigned TavlinDevice::new_course(const std::string& name) {
    const unsigned slot = find_course_slot(name);
    if (slot == no_slot) {
        return no_slot;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%u,%.*s,", slot, 15, name.c_str());
    if (exchange(tavlin::new_course, text)) {
        return slot;
    }
    log(3, "New course command failed");
    return no_slot;
}

bool TavlinDevice::send_holes(unsigned slot) {
    const TavlinCourse& record = course_response_.record;
    char digits[12];
    std::snprintf(digits, sizeof digits, "%02u", slot);
    for (unsigned hole = 0; hole < static_cast<unsigned>(record.hole_count); ++hole) {
        const std::vector<std::string>& points = record.holes[hole];
        for (unsigned packet = 0; packet < points.size(); ++packet) {
            if (!exchange(tavlin::point, in_slot(points[packet], digits))) {
                log(3, "Failed to hole data. Hole: %u. Packet: %u", hole, packet);
                return false;
            }
        }
        if (!exchange(tavlin::tees, in_slot(record.tees[hole], digits))) {
            log(3, "Failed to tees data. Hole: %u.", hole);
            return false;
        }
    }
    return true;
}

bool TavlinDevice::write_course() {
    const unsigned slot = new_course(course_response_.record.course_name);
    return slot <= slot_count && send_holes(slot);
}

}  // namespace orvel
