// A unit whose presence and update behaviour a test scripts, for the command loop tests.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "base/events.h"
#include "devices/device_connection.h"
#include "devices/model_table.h"

namespace orvel::test {

struct unit_script {
    std::atomic<bool> present{false};
    std::atomic<bool> eject_needed{true};
    // Runs on the update thread for every update; may throw.
    std::function<void(event_base& interrupt)> on_update = [](event_base&) {};
    std::function<void()> on_eject = [] {};

    std::atomic<int> updates_started{0};
    std::atomic<int> updates_running{0};
    std::atomic<int> connections_alive{0};
    std::atomic<int> ejects{0};
    std::atomic<int> presence_checks{0};
    // Set when a connection was destroyed while its update was still running.
    std::atomic<bool> destroyed_while_updating{false};
};

class scripted_device : public device {
public:
    std::string identity() override { return "scripted"; }
    bool open(const std::string&) override { return true; }
    void close() override {}
    bool is_open() override { return true; }
    bool write_course() override { return true; }
    sync_response& plain_response() override { return response_; }
    sync_response& course_response() override { return response_; }

private:
    sync_response response_;
};

class scripted_connection : public device_connection {
public:
    scripted_connection(std::shared_ptr<unit_script> script, const connection_settings& settings,
                        event_base& interrupt_event)
        : device_connection(std::make_unique<scripted_device>(), settings, interrupt_event),
          script_(std::move(script)) {
        ++script_->connections_alive;
    }
    ~scripted_connection() override {
        if (updating_.load()) {
            script_->destroyed_while_updating = true;
        }
        --script_->connections_alive;
    }

    bool open_device() override { return true; }
    std::string find_device() override {
        ++script_->presence_checks;
        return script_->present ? "/scripted/" : "";
    }
    std::string model_name() override { return "Scripted"; }
    bool eject_needed() override { return script_->eject_needed; }
    void update_course(const std::string&) override { run_update(); }
    void full_update() override { run_update(); }
    void restore_device() override { run_update(); }
    void eject() override {
        ++script_->ejects;
        script_->on_eject();
    }

private:
    void run_update() {
        updating_ = true;
        ++script_->updates_started;
        ++script_->updates_running;
        struct finish {
            scripted_connection& self;
            ~finish() {
                --self.script_->updates_running;
                self.updating_ = false;
            }
        } finishing{*this};
        script_->on_update(interrupt_event());
    }

    std::shared_ptr<unit_script> script_;
    std::atomic<bool> updating_{false};
};

// "Scripted" builds the scripted unit; every other text goes to the real model table.
inline connection_factory scripted_factory(std::shared_ptr<unit_script> script) {
    return [script](const std::string& model, const connection_settings& settings,
                    event_base& interrupt_event) -> std::unique_ptr<device_connection> {
        if (model == "Scripted") {
            return std::make_unique<scripted_connection>(script, settings, interrupt_event);
        }
        return make_device_connection(model, settings, interrupt_event);
    };
}

}  // namespace orvel::test
