// The command loop: takes the page's commands, keeps the status, watches the unit and runs
// updates on the update thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "base/events.h"
#include "base/safe_fifo.h"
#include "link/status.h"
#include "sync/updater.h"

namespace orvel {

class main_thread {
public:
    // Starts the command loop thread.
    main_thread(safe_fifo<std::string>& commands, event& interrupt_event, event& stop_event,
                std::string log_path, connection_factory factory = make_device_connection);
    // Interrupts a running update, ends the command loop and waits for it.
    ~main_thread();

    main_thread(const main_thread&) = delete;
    main_thread& operator=(const main_thread&) = delete;

private:
    using clock = std::chrono::steady_clock;

    void command_loop();
    // Sleeps until the time or until something wakes the loop: a command, the end of an
    // update, stop_event.
    void wait_until(clock::time_point deadline);
    // A command can be taken now: one is queued, and no interrupted update holds it back.
    bool command_waiting();
    std::uint32_t poll_interval_ms() const;
    void run_pass(std::optional<bool>& last_present, std::uint32_t& last_error, bool poll);
    // False when the command was ignored and the pass ends.
    bool handle_command(const std::string& text, std::optional<bool>& last_present);
    void end_of_pass(std::optional<bool>& last_present, std::uint32_t& last_error, bool poll);
    // Status 5 with the code; the headline is logged unless the failure repeats the last one,
    // the detail always.
    void report_failure(std::uint32_t code, bool upload, std::uint32_t& last_error,
                        const std::string& headline, const std::string* detail = nullptr);
    // Sets a status that carries no code and sends it.
    void report(page_status status);

    std::string log_path_;
    safe_fifo<std::string>& commands_;
    event& interrupt_event_;
    event& stop_event_;
    // Set by a queued command, a finished update and stop_event.
    event wake_;
    status_record status_;
    updater updater_;
    std::thread thread_;
};

}  // namespace orvel
