// The built agent with simulated serial units as its ports, the test cloud and the page:
// what the end-to-end tests of serial units share.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/data_stream.h"
#include "sim/test_http_server.h"
#include "support/agent_process.h"
#include "support/page_client.h"

namespace orvel::serial_e2e {

using namespace std::chrono_literals;

inline const std::string user_key = "member-key";
inline const std::string user_secret = "member-secret";
inline const std::string finished = "{\"Status\":4, \"EjectNeeded\":0}";

inline std::string coded(int status, unsigned code) {
    return "{\"Status\":" + std::to_string(status) + ", \"Code\":" + std::to_string(code) + "}";
}

// Bytes that differ from place to place, so data in the wrong place shows.
inline byte_vector pattern(std::size_t size, unsigned seed) {
    byte_vector bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7 + i / 251);
    }
    return bytes;
}

inline std::string base64(const byte_vector& bytes) {
    return test::reference_base64(std::string(bytes.begin(), bytes.end()));
}

class SerialAgent : public ::testing::Test {
protected:
    SerialAgent() { cloud.add_user(user_key, user_secret); }
    // The agent goes first, while the units it may still talk to are there.
    void TearDown() override { agent.reset(); }

    // Starts the agent with these ports listed and opens the page.
    void start(const std::string& port_list) {
        test::agent_options options;
        options.environment = {{"ORVELSYNC_SERIAL_PORTS", port_list}};
        agent = std::make_unique<test::agent_process>(options);
        agent->start();
        const std::uint16_t port = agent->wait_for_port();
        ASSERT_NE(port, 0);
        open_page();
    }

    void open_page() {
        page = std::make_unique<test::page_client>();
        ASSERT_TRUE(page->connect(agent->wait_for_port())) << page->failure();
        ASSERT_TRUE(page->wait_for_status(0));
    }

    void send_search(const std::string& model) {
        mark = page->received_count();
        page->send(R"({"command":"SearchDevice","device":")" + model + R"(","server":")" +
                   cloud.host() + R"(","userKey":")" + user_key + R"(","userSecret":")" +
                   user_secret + R"(","id_memberProduct":0})");
    }

    // Chooses the model and waits until the unit shows as present.
    void search(const std::string& model) {
        send_search(model);
        ASSERT_TRUE(page->wait_for_status(2, 5s, mark)) << model;
    }

    void send_update(unsigned id) {
        mark = page->received_count();
        page->send(R"({"command":"UpdateCourse","courseCode":")" + std::to_string(id) + "\"}");
    }

    // The status that ends the update: its Data text, or "" when none came.
    std::string finish(std::chrono::seconds limit = 40s) {
        return page->wait_for_final_status(limit, mark).value_or("");
    }

    std::string update(unsigned id, const std::string& answer, std::chrono::seconds limit = 40s) {
        cloud.reply_rest("DeviceCourseDataDetails", test::http_reply::json(answer));
        send_update(id);
        return finish(limit);
    }

    test::test_http_server cloud;
    std::unique_ptr<test::agent_process> agent;
    std::unique_ptr<test::page_client> page;
    std::size_t mark = 0;
};

}  // namespace orvel::serial_e2e
