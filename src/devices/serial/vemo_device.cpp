#include "devices/serial/vemo_device.h"

#include <algorithm>
#include <cstring>

#include "base/failures.h"
#include "base/log_hub.h"
#include "devices/serial/reply_exchange.h"
#include "devices/serial/xmodem.h"

namespace orvel {

namespace {

constexpr std::size_t message_capacity = 1024;
constexpr std::size_t keyword_length = 5;
constexpr std::uint8_t block_count = 55;
constexpr std::uint8_t eot = 0x04;
const char ack[] = "\x06";

// A Vemo unit answers within half a second when it has the command; one still busy with
// the previous block misses it, which is then written again.
constexpr exchange_rules vemo_rules(std::uint32_t compared) {
    return exchange_rules{5, 5, compared, 500, "\r\n"};
}

// The text and the zero byte that follows it on the wire.
void text_message(const std::string& text, byte_vector& out) {
    out.assign(text.begin(), text.end());
    out.push_back(0x00);
}

}  // namespace

bool VemoCourse::parse(const Json::Value& root) {
    if (!course::parse(root)) {
        return false;
    }
    course_name.resize(std::min<std::size_t>(course_name.size(), 16));
    return true;
}

VemoDevice::VemoDevice(event_base& interrupt_event) : CommDevice(interrupt_event), reader_(0x0D) {
    message_.reserve(message_capacity);
}

VemoDevice::~VemoDevice() {
    leave();
}

bool VemoDevice::exchange(const std::uint8_t* bytes, std::size_t count, const char* expected,
                          std::size_t compared) {
    if (!exchange_reply(reader_, bytes, count, vemo_rules(static_cast<std::uint32_t>(compared)))) {
        return false;
    }
    if (reply_starts(expected, compared)) {
        return true;
    }
    log(3, "Matching response failed. Expected: %s. Received: %s.\r\n", expected,
        reply_text(reader_).c_str());
    return false;
}

bool VemoDevice::reply_starts(const char* text, std::size_t length) const {
    const byte_vector& reply = reader_.received();
    return reply.size() >= length && std::memcmp(reply.data(), text, length) == 0;
}

bool VemoDevice::connect() {
    text_message("$FCON\r", message_);
    return exchange(message_.data(), message_.size(), "$OKCN", keyword_length);
}

bool VemoDevice::open(const std::string& location) {
    if (!CommDevice::open(location)) {
        return false;
    }
    if (connect()) {
        return true;
    }
    // A unit still in a previous session refuses the connect until it has been told to
    // leave it.
    close();
    if (!CommDevice::open(location)) {
        return false;
    }
    if (connect()) {
        return true;
    }
    if (reply_starts("$BDCN", keyword_length)) {
        log(3, "Bad connect response from device");
        return true;
    }
    log(3, "Uknown connect response from device");
    return false;
}

void VemoDevice::leave() {
    exit_connection([this] {
        text_message("$EXIT\r", message_);
        return exchange(message_.data(), message_.size(), "$EXCN", keyword_length);
    });
}

void VemoDevice::close() {
    leave();
    CommDevice::close();
}

bool VemoDevice::new_course(const std::string& name) {
    std::string text = "$NCFS " + name + "\r";
    std::replace(text.begin() + 6, text.end(), ' ', '_');
    log(3, "Cours name: %s\r\n", text.c_str());
    text_message(text, message_);
    if (exchange(message_.data(), message_.size(), "$OKFS", keyword_length)) {
        return true;
    }
    if (reply_starts("$BDFS", keyword_length)) {
        log(3, "The unit refused the new course");
        raise_sync_error(sync_error_code::device_protocol);
    }
    log(3, "Unknow new course response");
    return false;
}

bool VemoDevice::write_course() {
    const VemoCourse& record = course_response_.record;
    // Every block is cut from the course data: a shorter course would be read past its end.
    if (record.glf.size() < course_size) {
        log(3, "Course refused: %zu bytes, a Vemo course is %zu", record.glf.size(), course_size);
        return false;
    }
    if (!new_course(record.course_name)) {
        return false;
    }
    text_message("$STRT\r", message_);
    if (!exchange(message_.data(), message_.size(), "C", 1)) {
        log(3, "Start course failed");
        return false;
    }
    for (std::uint8_t block = 1; block <= block_count; ++block) {
        xmodem_block(block, record.glf.data() + (block - 1) * xmodem_block_data, message_);
        if (!exchange(message_.data(), message_.size(), ack, 1)) {
            if (block < block_count) {
                log(3, "Failed to send page #%u", static_cast<unsigned>(block));
            } else {
                log(3, "Failed to send final page");
            }
            return false;
        }
    }
    if (!exchange(&eot, 1, ack, 1)) {
        log(3, "Failed to send EOT");
        return false;
    }
    return true;
}

}  // namespace orvel
