#include "devices/serial/jt_device.h"

#include "base/failures.h"
#include "base/log_hub.h"
#include "devices/serial/jt_page.h"

namespace orvel {

namespace {

constexpr std::uint8_t ack = 0x06;
constexpr std::uint8_t eot = 0x04;  // the last page of a sequence was taken
constexpr std::uint8_t connected = 0x23;
constexpr std::uint8_t no_room = 0x22;

// A JT unit answers every message with one byte within half a second when it has it; a
// unit still busy with flash misses a message, which is then written again.
constexpr exchange_rules jt_rules{5, 5, 1, 500, "\r\n"};

// A course has at most 18 holes; the image command's two digits cannot number more.
constexpr unsigned max_images = 18;

}  // namespace

JTDevice::JTDevice(event_base& interrupt_event) : CommDevice(interrupt_event), reader_(0x00) {
    message_.reserve(1024);
}

bool JTDevice::exchange(const std::uint8_t* bytes, std::size_t count, std::uint8_t expected) {
    if (!exchange_reply(reader_, bytes, count, jt_rules)) {
        return false;
    }
    const byte_vector& reply = reader_.received();
    const unsigned received = reply.empty() ? 0 : reply[0];
    if (!reply.empty() && received == expected) {
        return true;
    }
    log(3, "Matching response failed. Expected %02X. Received: %02X\r\n", expected, received);
    return false;
}

bool JTDevice::open(const std::string& location) {
    if (!CommDevice::open(location)) {
        return false;
    }
    static const std::uint8_t connect[] = {'$', 'D', 'E', 'L', 'F', '*', 0x00, 0x00};
    if (!exchange(connect, sizeof connect, connected)) {
        log(3, "Bad connect response from device");
        return false;
    }
    return true;
}

bool JTDevice::holds_its_images(const JTCourse& record) const {
    const unsigned images = record.image_count();
    if (images > max_images) {
        log(3, "Course refused: %u hole images, a course has at most %u", images, max_images);
        return false;
    }
    const std::size_t needed = jt::image_offset + jt::image_size;
    if (images > 0 && record.glf.size() < needed) {
        log(3, "Course refused: %zu bytes hold no hole image, %u announced (%zu bytes needed)",
            record.glf.size(), images, needed);
        return false;
    }
    return true;
}

bool JTDevice::write_course() {
    const JTCourse& record = course_response_.record;
    if (!holds_its_images(record)) {
        return false;
    }
    log(3, "New course command sent");
    static const std::uint8_t send[] = {'$', 'S', 'E', 'N', 'D', '*'};
    if (!exchange(send, sizeof send, ack)) {
        if (!reader_.received().empty() && reader_.received()[0] == no_room) {
            log(3, "The unit has no room for the course");
            raise_sync_error(sync_error_code::device_protocol);
        }
        log(3, "Unknown new course response");
        return false;
    }
    log(3, "Write course: %s", record.leading_text().c_str());
    const std::size_t last = jt::course_size - (jt::course_pages - 1) * jt::page_data;
    if (!send_pages(record.glf.data(), jt::course_pages, last, "Failed to send page #%u",
                    "Failed to send final course page")) {
        return false;
    }
    return send_hole_images();
}

bool JTDevice::send_hole_images() {
    const JTCourse& record = course_response_.record;
    const unsigned images = record.image_count();
    const std::size_t last = jt::image_size - (jt::image_pages - 1) * jt::page_data;
    for (unsigned hole = 1; hole <= images; ++hole) {
        log(3, "Write hole #%u image command sent", hole);
        build_image_command(record.leading_text(), hole, message_);
        if (!exchange(message_.data(), message_.size(), ack)) {
            log(3, "Failed to send image command");
            return false;
        }
        // Every hole's command is followed by the one image the course data holds.
        if (!send_pages(record.glf.data() + jt::image_offset, jt::image_pages, last,
                        "Failed to send image page #%u", "Failed to send final image page")) {
            return false;
        }
    }
    return true;
}

bool JTDevice::send_pages(const std::uint8_t* data, std::uint8_t total, std::size_t last_length,
                          const char* page_failure, const char* final_failure) {
    for (std::uint8_t page = 1; page < total; ++page) {
        build_page(page, total, data + (page - 1) * jt::page_data, jt::page_data, message_);
        if (!exchange(message_.data(), message_.size(), ack)) {
            log(3, page_failure, static_cast<unsigned>(page));
            return false;
        }
    }
    build_page(total, total, data + (total - 1) * jt::page_data, last_length, message_);
    if (!exchange(message_.data(), message_.size(), eot)) {
        log(3, "%s", final_failure);
        return false;
    }
    return true;
}

}  // namespace orvel
