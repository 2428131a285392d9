// The failures that travel through the agent, and the codes the page receives for them.
#pragma once

#include <cstdint>
#include <string>

#include "base/printf_format.h"

namespace orvel {

// The number the page receives as "Code" with Status 5.
enum class sync_error_code : std::uint32_t {
    none = 0,
    internal_failure = 100,
    device_not_opened = 200,
    device_read_failed = 201,
    request_failed = 300,
    service_status_214 = 301,
    bad_response = 400,
    service_status_218 = 500,
    device_write_failed = 600,
    full_update_not_confirmed = 602,
    course_variant_mismatch = 604,
    serial_number_rejected = 605,
    scores_not_written = 700,
    articles_not_written = 800,
    unknown_model = 900,
    device_protocol = 1000,
    course_sync_index = 1100,
    sync_index_not_repaired = 1101,
    invalid_command = 1200,
    no_device_selected = 1300,
    device_not_found = 1400,
    interrupted = 1500,
    http_failed = 1600,
    eject_failed = 1700,
};

constexpr std::uint32_t code_value(sync_error_code code) noexcept {
    return static_cast<std::uint32_t>(code);
}

// Deliberately not derived from std::exception: the command loop tells these apart from
// library failures, which it reports as internal ones.
class base_exception {
public:
    explicit base_exception(std::string message = {}) : message_(std::move(message)) {}
    virtual ~base_exception() = default;

    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// A system call, file, port or library step failed.
class intl_exception : public base_exception {
public:
    using base_exception::base_exception;
};

// An HTTP exchange failed in transport; the only failure that the transport retries.
class http_exception : public intl_exception {
public:
    using intl_exception::intl_exception;
};

template <typename Code>
class extl_exception_base : public base_exception {
public:
    extl_exception_base(std::string message, Code code)
        : base_exception(std::move(message)), code_(code) {}

    Code code() const noexcept { return code_; }

private:
    Code code_;
};

using extl_exception = extl_exception_base<sync_error_code>;

// The unit's course count does not match the cloud's; the course update repairs it once.
class sync_index_exception : public base_exception {
public:
    explicit sync_index_exception(std::int32_t course_count) : course_count_(course_count) {}

    std::int32_t course_count() const noexcept { return course_count_; }

private:
    std::int32_t course_count_;
};

[[noreturn]] void raise_sync_error(sync_error_code code);
[[noreturn]] void raise_sync_error(sync_error_code code, const char* format, ...)
    ORVEL_PRINTF_FORMAT(2, 3);

// "<step> failed.", the message of most internal failures.
std::string failed_text(const std::string& step);

}  // namespace orvel
