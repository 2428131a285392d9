// Holds the member's settings and the selected unit, and runs one long operation at a time
// on the update thread.
#pragma once

#include <atomic>
#include <exception>
#include <memory>
#include <thread>

#include "base/events.h"
#include "cloud/connection_settings.h"
#include "devices/device_connection.h"
#include "devices/model_table.h"
#include "link/sync_command.h"

namespace orvel {

class updater {
public:
    // `ended_event` is set whenever an update thread has finished.
    updater(event& interrupt_event, event& ended_event,
            connection_factory factory = make_device_connection);
    // Interrupts a running update and waits for it before the connection it uses goes.
    ~updater();

    updater(const updater&) = delete;
    updater& operator=(const updater&) = delete;

    // Takes the settings of a "SearchDevice" and builds the model's connection; an unknown
    // model (code 900) keeps the previous one and leaves a running update alone. A running
    // update is interrupted and waited for before its connection is replaced.
    void select_device(const sync_command_info& info);
    // Empties the settings and drops the connection, after interrupting and waiting for a
    // running update.
    void forget_device();
    void start_update(sync_command command, const sync_command_info& info);

    bool running() const { return running_.load(std::memory_order_acquire); }
    // Raises the failure of the last update once, if it had one and has ended.
    void raise_update_error();

    device_connection* connection() const { return connection_.get(); }
    const connection_settings& settings() const { return settings_; }

private:
    void update_thread(sync_command command, sync_command_info info);
    // The connection must outlive the thread that uses it.
    void wait_for_update();
    // Interrupts a running update and waits for its thread.
    void interrupt_update();

    connection_factory factory_;
    connection_settings settings_;
    std::unique_ptr<device_connection> connection_;
    event& interrupt_event_;
    event& ended_event_;
    std::thread thread_;
    std::exception_ptr error_;
    std::atomic<bool> running_{false};
};

}  // namespace orvel
