// Runs the real command loop with a command queue the test fills and a log it reads.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/capture_logger.h"
#include "sync/main_thread.h"
#include "sync/scripted_unit.h"

namespace orvel::test {

class command_loop_harness {
public:
    explicit command_loop_harness(std::string log_path = "/nonexistent/orvel-test.log")
        : loop_(commands_, interrupt_, stop_, std::move(log_path), scripted_factory(unit)) {}
    // With units of the test's own making.
    command_loop_harness(connection_factory factory, std::string log_path)
        : loop_(commands_, interrupt_, stop_, std::move(log_path), std::move(factory)) {}
    ~command_loop_harness() { stop_.set(); }

    void send(const std::string& text) { commands_.push(text); }

    void search(const std::string& model, unsigned member = 0,
                const std::string& server = "127.0.0.1:9") {
        send(R"({"command":"SearchDevice","device":")" + model + R"(","server":")" + server +
             R"(","userKey":"uk","userSecret":"us","id_memberProduct":)" + std::to_string(member) +
             "}");
    }

    // Every status text sent so far, in order.
    std::vector<std::string> statuses() const {
        std::vector<std::string> out;
        for (const std::string& message : logger.messages()) {
            if (message.rfind("{\"Status\":", 0) == 0) {
                out.push_back(message);
            }
        }
        return out;
    }

    // Waits until at least count statuses were sent; returns them.
    std::vector<std::string> wait_statuses(
        std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (statuses().size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return statuses();
    }

    bool wait_message(const std::string& message,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!logger.contains(message)) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // A few loop passes with nothing new to do.
    static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(400)); }

    event& interrupt() { return interrupt_; }

    capture_logger logger;
    std::shared_ptr<unit_script> unit = std::make_shared<unit_script>();

private:
    safe_fifo<std::string> commands_;
    event interrupt_;
    event stop_;
    main_thread loop_;
};

inline const std::string status0 = R"({"Status":0, "Version":"2.5.8.0"})";
inline const std::string status1 = R"({"Status":1})";
inline const std::string status2 = R"({"Status":2})";
inline const std::string status3 = R"({"Status":3})";
inline std::string status4(int eject) {
    return R"({"Status":4, "EjectNeeded":)" + std::to_string(eject) + "}";
}
inline std::string status5(int code) {
    return R"({"Status":5, "Code":)" + std::to_string(code) + "}";
}

}  // namespace orvel::test
