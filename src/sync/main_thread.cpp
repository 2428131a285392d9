#include "sync/main_thread.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "base/failures.h"
#include "base/format.h"
#include "base/log_hub.h"
#include "link/sync_command.h"
#include "sync/log_upload.h"

namespace orvel {

namespace {

// The presence poll's rhythm; commands and a finished update do not wait for it.
constexpr std::uint32_t idle_wait_ms = 300;  // no page: nothing to report quickly
constexpr std::uint32_t poll_wait_ms = 100;

}  // namespace

main_thread::main_thread(safe_fifo<std::string>& commands, event& interrupt_event,
                         event& stop_event, std::string log_path, connection_factory factory)
    : log_path_(std::move(log_path)),
      commands_(commands),
      interrupt_event_(interrupt_event),
      stop_event_(stop_event),
      updater_(interrupt_event, wake_, std::move(factory)) {
    commands_.set_arrival_event(&wake_);
    stop_event_.link(wake_);
    thread_ = std::thread(&main_thread::command_loop, this);
}

main_thread::~main_thread() {
    interrupt_event_.set();
    wake_.set();
    if (thread_.joinable()) {
        thread_.join();
    }
    stop_event_.unlink(wake_);
    commands_.set_arrival_event(nullptr);
}

void main_thread::command_loop() {
    // The chosen unit's presence as last polled; none since it was chosen.
    std::optional<bool> last_present;
    std::uint32_t last_error = 0;
    clock::time_point next_poll = clock::now() + std::chrono::milliseconds(poll_interval_ms());
    for (;;) {
        if (!command_waiting()) {
            wait_until(next_poll);
        }
        // Cleared before anything is looked at: whatever happens from here on wakes the next
        // wait at once.
        wake_.clear();
        if (stop_event_.is_set()) {
            interrupt_event_.set();
            return;
        }
        const bool poll = clock::now() >= next_poll;
        run_pass(last_present, last_error, poll);
        const clock::time_point next = clock::now() + std::chrono::milliseconds(poll_interval_ms());
        // A page that arrives during the idle wait is polled for at the page's rate.
        next_poll = poll ? next : std::min(next_poll, next);
    }
}

void main_thread::wait_until(clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
    if (left.count() > 0) {
        wake_.wait(static_cast<std::uint32_t>(left.count()));
    }
}

bool main_thread::command_waiting() {
    // An interrupted update holds every command back until it has ended, which wakes the loop.
    return !commands_.empty() && !(interrupt_event_.is_set() && updater_.running());
}

std::uint32_t main_thread::poll_interval_ms() const {
    return status_.status == no_page ? idle_wait_ms : poll_wait_ms;
}

void main_thread::run_pass(std::optional<bool>& last_present, std::uint32_t& last_error,
                           bool poll) {
    try {
        if (interrupt_event_.is_set()) {
            if (updater_.running()) {
                return;  // no command is taken until the interrupted update has ended
            }
            interrupt_event_.clear();
            updater_.raise_update_error();
        }
        std::string text;
        if (commands_.pop(text) && !handle_command(text, last_present)) {
            return;
        }
        end_of_pass(last_present, last_error, poll);
    } catch (const http_exception& e) {
        report_failure(code_value(sync_error_code::http_failed), false, last_error,
                       "main_thread http_exception: " + e.message());
    } catch (const intl_exception& e) {
        report_failure(code_value(sync_error_code::internal_failure), true, last_error,
                       "main_thread intl_exception", &e.message());
    } catch (const extl_exception& e) {
        const std::uint32_t code = code_value(e.code());
        report_failure(code, true, last_error,
                       format_text("main_thread extl_exception: %d", static_cast<int>(code)),
                       &e.message());
    } catch (const std::exception& e) {
        report_failure(code_value(sync_error_code::internal_failure), true, last_error,
                       std::string("main_thread exception: ") + e.what());
    } catch (...) {
        // Nothing else is raised on purpose; the loop must survive it all the same.
        report_failure(code_value(sync_error_code::internal_failure), true, last_error,
                       "main_thread exception: unknown");
    }
}

bool main_thread::handle_command(const std::string& text, std::optional<bool>& last_present) {
    const sync_command_info info = parse_command(text);
    if (status_.status == no_page && info.command != sync_command::connect) {
        log(3, "status is null, command ignored");
        return false;
    }
    const bool replaces_device = info.command == sync_command::connect ||
                                 info.command == sync_command::disconnect ||
                                 info.command == sync_command::search_device;
    if (status_.status == updating && replaces_device) {
        log(3, "update interrupted with another command %u", command_number(info.command));
        interrupt_event_.set();
    }

    switch (info.command) {
        case sync_command::connect:
        case sync_command::disconnect:
            if (info.command == sync_command::connect) {
                report(page_attached);
            } else {
                status_.status = no_page;
                status_.code = 0;
            }
            last_present.reset();
            updater_.forget_device();
            break;
        case sync_command::search_device:
            last_present.reset();
            updater_.select_device(info);
            report(unit_absent);
            break;
        case sync_command::update_course:
        case sync_command::full_update:
        case sync_command::restore_device:
        case sync_command::eject_device:
            if (updater_.connection() == nullptr) {
                raise_sync_error(sync_error_code::no_device_selected);
            }
            if (info.command == sync_command::eject_device) {
                updater_.connection()->eject();
                report(unit_absent);
            } else {
                report(updating);
                updater_.start_update(info.command, info);
            }
            break;
        case sync_command::none:
            break;
    }
    return true;
}

void main_thread::end_of_pass(std::optional<bool>& last_present, std::uint32_t& last_error,
                              bool poll) {
    if (status_.status == updating && !updater_.running()) {
        updater_.raise_update_error();
        report(update_finished);
        last_error = 0;
    }

    // A unit just chosen is polled at once: its presence belongs to the answer to the choice.
    device_connection* connection = updater_.connection();
    if ((!poll && last_present.has_value()) || connection == nullptr ||
        status_.status == page_attached) {
        return;
    }
    const bool present = connection->is_device_present();
    if (present != last_present.value_or(false)) {
        if (status_.status == updating) {
            interrupt_event_.set();
        }
        if (present) {
            status_.eject_needed = connection->eject_needed() ? 1 : 0;
        }
        report(present ? unit_present : unit_absent);
    }
    last_present = present;
    last_error = 0;
}

void main_thread::report_failure(std::uint32_t code, bool upload, std::uint32_t& last_error,
                                 const std::string& headline, const std::string* detail) {
    // A failure that comes back pass after pass is named once and reported every time.
    if (last_error != code) {
        log(3, "%s", headline.c_str());
    }
    if (detail != nullptr) {
        log(3, "%s", detail->c_str());
    }
    status_.status = command_failed;
    status_.code = code;
    send_status(status_);
    last_error = code;
    if (!upload) {
        return;
    }
    // The failure has been reported; the upload's own failure must not end the loop.
    try {
        upload_log(updater_.settings(), log_path_, interrupt_event_);
    } catch (const extl_exception& e) {
        log(3, "upload_log failed: %d %s", static_cast<int>(code_value(e.code())),
            e.message().c_str());
    } catch (const base_exception& e) {
        log(3, "upload_log failed: %s", e.message().c_str());
    } catch (const std::exception& e) {
        log(3, "upload_log failed: %s", e.what());
    } catch (...) {
        log(3, "upload_log failed: %s", "unknown");
    }
}

void main_thread::report(page_status status) {
    status_.status = status;
    status_.code = 0;
    send_status(status_);
}

}  // namespace orvel
