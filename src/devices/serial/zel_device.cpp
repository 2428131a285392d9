#include "devices/serial/zel_device.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/failures.h"
#include "base/log_hub.h"
#include "devices/serial/reply_exchange.h"

namespace orvel {

namespace {

constexpr std::size_t message_capacity = 1024;
constexpr std::size_t keyword_length = 5;

// A Zel unit at 9600 baud can take a second to answer; a unit still busy with the previous
// command misses one, which is then written again.
constexpr exchange_rules zel_rules{5, 5, 0x7FFFFFFF, 1000, "\r\n"};

}  // namespace

bool zel_held_name(const std::string& reply, std::string& held) {
    const std::size_t comma = reply.find(',', keyword_length);
    if (comma == std::string::npos) {
        return false;
    }
    held = reply.substr(comma + 1);
    return true;
}

ZelDevice::ZelDevice(event_base& interrupt_event) : CommDevice(interrupt_event), reader_(0x00) {
    message_.reserve(message_capacity);
}

ZelDevice::~ZelDevice() {
    leave();
}

bool ZelDevice::exchange(const std::uint8_t* bytes, std::size_t count, const char* expected,
                         bool check) {
    if (!exchange_reply(reader_, bytes, count, zel_rules)) {
        return false;
    }
    if (!check) {
        return true;
    }
    const byte_vector& reply = reader_.received();
    if (reply.size() >= keyword_length &&
        std::memcmp(reply.data(), expected, keyword_length) == 0) {
        return true;
    }
    log(3, "Matching response failed. Expected: %s. Received: %s.\r\n", expected,
        reply_text(reader_).c_str());
    return false;
}

void ZelDevice::compose(const char* format, ...) {
    char text[message_capacity];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    message_.assign(text, text + std::strlen(text) + 1);
}

bool ZelDevice::send(const char* expected) {
    return exchange(message_.data(), message_.size(), expected, true);
}

std::string ZelDevice::command_text() const {
    return std::string(reinterpret_cast<const char*>(message_.data()));
}

bool ZelDevice::open(const std::string& location) {
    if (!CommDevice::open(location)) {
        return false;
    }
    compose("%s", "$FCON");
    if (!send("$OKCN")) {
        log(3, "Establashing connection failed.\r\n");
        return false;
    }
    return is_open();
}

bool ZelDevice::is_open() {
    if (!port().is_open()) {
        return false;
    }
    compose("%s", "$TEST");
    if (!send("$OKTS")) {
        log(3, "Testing connection failed.\r\n");
        return false;
    }
    return true;
}

void ZelDevice::leave() {
    exit_connection([this] {
        static const std::uint8_t exit[] = {'$', 'E', 'X', 'I', 'T', 0x00};
        // The unit's answer ("$OKEX") is waited for but not read.
        exchange(exit, sizeof exit, "$OKEX", false);
        return true;
    });
}

void ZelDevice::close() {
    leave();
    CommDevice::close();
}

unsigned ZelDevice::find_course_slot(const std::string& name) {
    unsigned free = no_free_slot;
    for (unsigned slot = 0; slot < slot_count; ++slot) {
        compose("%s,%u", "$CRNM", slot + 1);
        if (!send("$OKCN")) {
            log(3, "Getting course name failed:%s.\r\n", command_text().c_str());
            return slot_unreadable;
        }
        const std::string reply = reply_text(reader_);
        std::string held;
        if (!zel_held_name(reply, held)) {
            log(3, "Course name reply without a name: %s", reply.c_str());
            return slot_unreadable;
        }
        if (held == name) {
            return slot;
        }
        if (held.empty()) {
            free = std::min(free, slot);
        }
    }
    return free;
}

bool ZelDevice::add_hole(unsigned hole, const std::vector<std::string>& points) {
    compose("%s,%02u", "$HOLE", hole);
    if (!send("$OKHL")) {
        log(3, "Adding hole %u failed: %s.\r\n", hole, command_text().c_str());
        return false;
    }
    unsigned number = 1;
    for (const std::string& point : points) {
        compose("%s,%02u,%s", "$PINT", number, point.c_str());
        log(3, "Hole %u, point %u: %s", hole, number, command_text().c_str());
        if (!send("$OKPN")) {
            log(3, "Adding point %u failed: %s.\r\n", number, command_text().c_str());
            return false;
        }
        ++number;
    }
    return true;
}

bool ZelDevice::write_course() {
    const ZelCourse& record = course_response_.record;
    const unsigned slot = find_course_slot(record.course_name);
    if (slot == slot_unreadable) {
        return false;
    }
    if (slot >= slot_count) {
        log(3, "No free course slot on the unit");
        raise_sync_error(sync_error_code::device_protocol);
    }
    compose("%s,%u", "$ECRS", slot + 1);
    if (!send("$OKEC")) {
        log(3, "Erasing course failed: %s.\r\n", command_text().c_str());
        return false;
    }
    compose("%s,%s,%02u,%02u", "$NCRS", record.course_name.c_str(), slot + 1,
            static_cast<unsigned>(record.hole_count));
    if (!send("$OKNC")) {
        log(3, "Creating course (%s) failed: %s.\r\n", record.course_name.c_str(),
            command_text().c_str());
        return false;
    }
    // The parse lets only 9 or 18 holes through.
    for (unsigned hole = 1; hole <= static_cast<unsigned>(record.hole_count); ++hole) {
        if (!add_hole(hole, record.holes[hole - 1])) {
            return false;
        }
    }
    compose("%s", "$WCRS");
    if (!send("$OKSV")) {
        log(3, "Writing course failed.\r\n");
        return false;
    }
    return true;
}

}  // namespace orvel
