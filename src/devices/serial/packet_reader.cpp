#include "devices/serial/packet_reader.h"

#include <chrono>

#include "base/failures.h"
#include "base/log_hub.h"
#include "devices/serial/hx62_packet.h"

namespace orvel {

namespace {

// A reply that has not come within this time is taken as lost; the caller asks again.
constexpr std::chrono::milliseconds read_limit(2000);
// Idle polls of the line; they double as the moments a stop request is noticed.
constexpr std::uint32_t idle_wait_ms = 24;
constexpr std::uint32_t failed_count_wait_ms = 48;

std::string hex_dump(const byte_vector& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "Data: ";
    text.reserve(text.size() + bytes.size() * 3);
    for (const std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
        text += ' ';
    }
    return text;
}

}  // namespace

packet_reader::packet_reader() : buffer_(read_size) {
    received_.reserve(received_reserve);
    message_.data.reserve(hx62::max_payload);
}

void packet_reader::reset() {
    received_.clear();
    message_.id = 0;
    message_.data.clear();
    state_ = parse_state::searching;
    scan_ = 0;
}

bool packet_reader::append(const std::uint8_t* bytes, std::size_t count) {
    if (received_.size() + count > received_reserve) {
        return false;
    }
    received_.insert(received_.end(), bytes, bytes + count);
    if (state_ == parse_state::waiting) {
        state_ = parse_state::candidate;
    }
    return true;
}

bool packet_reader::find_start() {
    for (std::size_t at = static_cast<std::size_t>(scan_); at < received_.size(); ++at) {
        if (received_[at] == 0xA0 && (at + 1 == received_.size() || received_[at + 1] == 0xA2)) {
            scan_ = static_cast<std::int32_t>(at);
            return true;
        }
    }
    return false;
}

packet_reader::match_result packet_reader::wait_for_more() {
    received_.erase(received_.begin(), received_.begin() + scan_);
    scan_ = 0;
    state_ = parse_state::waiting;
    return need_more;
}

packet_reader::match_result packet_reader::match_packet(std::uint8_t wanted) {
    if (received_.empty()) {
        return no_start;
    }
    if (state_ == parse_state::waiting) {
        return need_more;
    }
    for (;;) {
        if (state_ == parse_state::searching) {
            if (!find_start()) {
                received_.clear();
                scan_ = 0;
                return no_start;
            }
            state_ = parse_state::candidate;
        }
        const std::size_t p = static_cast<std::size_t>(scan_);
        const std::size_t remaining = received_.size() - p;
        const auto advance = [this] {
            ++scan_;
            state_ = parse_state::searching;
        };
        if (remaining == 1) {
            return wait_for_more();
        }
        if (received_[p + 1] != 0xA2) {
            advance();
            continue;
        }
        if (remaining < 4) {
            return wait_for_more();
        }
        const std::size_t n = (std::size_t{received_[p + 2]} << 8) | received_[p + 3];
        if (n == 0 || n > hx62::max_payload) {
            advance();
            continue;
        }
        const std::size_t length = n + hx62::frame_overhead;
        if (remaining < length) {
            return wait_for_more();
        }
        const std::uint8_t* packet = received_.data() + p;
        // The sender clears bit 15 of the sum, so a stored sum with it set never matches.
        const std::uint16_t stored =
            static_cast<std::uint16_t>((packet[4 + n] << 8) | packet[5 + n]);
        if (packet[length - 2] != 0xB0 || packet[length - 1] != 0xB3 ||
            hx62::payload_sum(packet + 4, n) != stored) {
            advance();
            continue;
        }
        const std::uint8_t id = packet[4];
        if (wanted != 0 && id != wanted) {
            scan_ = static_cast<std::int32_t>(p + length);
            state_ = parse_state::searching;
            continue;
        }
        message_.id = id;
        message_.data.assign(packet + 5, packet + 4 + n);
        received_.erase(received_.begin(),
                        received_.begin() + static_cast<std::ptrdiff_t>(p + length));
        scan_ = 0;
        state_ = parse_state::searching;
        return matched;
    }
}

bool packet_reader::read_packet(platform::serial_port& port, std::uint8_t wanted,
                                event_base& interrupt) {
    using steady = std::chrono::steady_clock;
    const steady::time_point start = steady::now();
    for (;;) {
        const int queued = port.available();
        log(3, "Bytes available: %d", queued);
        if (queued < 1) {
            if (interrupt.wait(idle_wait_ms)) {
                raise_sync_error(sync_error_code::interrupted);
            }
            if (queued < 0 && interrupt.wait(failed_count_wait_ms)) {
                raise_sync_error(sync_error_code::interrupted);
            }
        } else {
            const std::size_t got = port.read(buffer_.data(), buffer_.size());
            log(3, "Bytes read: %d", static_cast<int>(got));
            if (got > 0 && append(buffer_.data(), got) && match_packet(wanted) == matched) {
                log(3, "Packet matched!!!");
                return true;
            }
        }
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - start);
        if (elapsed > read_limit) {
            log(3, "Read timout: %zu. Bytes read: %zu", static_cast<std::size_t>(elapsed.count()),
                received_.size());
            if (!received_.empty()) {
                log(3, "%s", hex_dump(received_).c_str());
            }
            return false;
        }
    }
}

}  // namespace orvel
