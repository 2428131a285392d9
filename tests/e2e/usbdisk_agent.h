// The built agent with folders as its attached volumes, the test cloud and the page: what
// the end-to-end tests of USB-disk units share.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/test_http_server.h"
#include "support/agent_process.h"
#include "support/byte_pattern.h"
#include "support/capture_logger.h"
#include "support/page_client.h"
#include "support/temp_folder.h"

namespace orvel::e2e {

using namespace std::chrono_literals;

inline const std::string user_key = "member-key";
inline const std::string user_secret = "member-secret";

using test::pattern;
// The unit's file as expected; on a mismatch, where it starts (the files are binary).
inline ::testing::AssertionResult holds(const std::string& path, const std::string& expected) {
    const std::string actual = test::read_file(path);
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    return ::testing::AssertionFailure()
           << path << ": " << actual.size() << " bytes, " << expected.size()
           << " expected, first difference at " << at;
}

// The service's answer with the course.
inline std::string course_answer(unsigned id, int index, const std::string& glf,
                                 const std::optional<std::string>& gls = std::nullopt) {
    std::string answer = R"({"Status":1,"ErrorMessage":"","glfCourse":{"index":)" +
                         std::to_string(index) + R"(,"glf":")" + test::reference_base64(glf) +
                         R"("},"id_course":)" + std::to_string(id) + R"(,"courseName":"Course )" +
                         std::to_string(id) + "\"";
    if (gls) {
        answer += R"(,"glsData":")" + test::reference_base64(*gls) + "\"";
    }
    return answer + "}";
}

inline std::string coded(int status, unsigned code) {
    return "{\"Status\":" + std::to_string(status) + ", \"Code\":" + std::to_string(code) + "}";
}

inline const std::string finished = "{\"Status\":4, \"EjectNeeded\":1}";

class UsbDiskAgent : public ::testing::Test {
protected:
    UsbDiskAgent() { cloud.add_user(user_key, user_secret); }

    // Starts the agent with the folders as its volumes, in this order, and opens the page.
    void start(const std::string& volume_list) {
        test::agent_options options;
        options.environment = {{"ORVELSYNC_VOLUMES", volume_list}};
        agent = std::make_unique<test::agent_process>(options);
        agent->start();
        const std::uint16_t port = agent->wait_for_port();
        ASSERT_NE(port, 0);
        ASSERT_TRUE(page.connect(port)) << page.failure();
        ASSERT_TRUE(page.wait_for_status(0));
    }

    // Member product 0: a failure sends no log upload, which is beside the point here.
    void search(const std::string& model, const std::string& serial_number = "",
                int member_product = 0) {
        mark = page.received_count();
        const std::string serial =
            serial_number.empty() ? "" : R"(,"serialNumber":")" + serial_number + "\"";
        page.send(R"({"command":"SearchDevice","device":")" + model + R"(","server":")" +
                  cloud.host() + R"(","userKey":")" + user_key + R"(","userSecret":")" +
                  user_secret + R"(","id_memberProduct":)" + std::to_string(member_product) +
                  serial + "}");
        ASSERT_TRUE(page.wait_for_status(1, 5s, mark)) << model;
    }

    // The status that ends the command: its Data text, or "" when none came.
    std::string run(const std::string& command, const std::string& extra = "",
                    std::chrono::milliseconds timeout = 10s) {
        mark = page.received_count();
        page.send(R"({"command":")" + command + "\"" + extra + "}");
        const std::size_t from = mark;
        std::string end;
        page.wait_for(
            [&](const std::vector<std::string>& lines) {
                for (std::size_t i = from; i < lines.size(); ++i) {
                    const std::string message = test::message_of_line(lines[i]);
                    const std::optional<int> status = test::status_of(message);
                    if (status && *status != 3 && *status != 2) {
                        end = message;
                        return true;
                    }
                }
                return false;
            },
            timeout);
        return end;
    }

    // Serves the course, sends "UpdateCourse" for it and answers the ending status.
    std::string update(unsigned id, const std::string& answer) {
        cloud.reply_rest("DeviceCourseDataDetails", test::http_reply::json(answer));
        const std::string end =
            run("UpdateCourse", R"(,"courseCode":")" + std::to_string(id) + "\"");
        if (end == finished) {
            EXPECT_TRUE(page.wait_for_status(3, 1s, mark)) << "no Status 3 before the end";
        }
        return end;
    }

    // A library of 40 standard courses, ten to an index file; course k lies at k * 100 in
    // "crs/d00".
    void library(const std::string& marker, const std::string& index_file) {
        test::write_file(volume / marker, "");
        std::filesystem::create_directories(volume / "idx");
        std::filesystem::create_directories(volume / "crs");
        test::write_file(volume / "idx/" + index_file,
                         "HEAD" + test::little_endian(40, 2) + test::little_endian(10, 2));
        std::string entries;
        for (std::uint32_t k = 0; k < 10; ++k) {
            entries += std::string(8, 'h') + test::little_endian(k * 100, 4) +
                       test::little_endian(k, 2) + std::string("crs\0d00\0", 8) +
                       std::string(10, '\0');
        }
        test::write_file(volume / "idx/000", entries);
        test::write_file(volume / "crs/d00", std::string(1000, '.'));
    }

    bool becomes(int status) { return page.wait_for_status(status, 5s, mark).has_value(); }
    // The presence poll runs every 100 ms; five passes without a change count as none.
    bool stays_without(int status) { return !page.wait_for_status(status, 500ms, mark); }

    test::test_http_server cloud;
    test::temp_folder volume{"unit"};
    std::unique_ptr<test::agent_process> agent;
    test::page_client page;
    std::size_t mark = 0;
};

}  // namespace orvel::e2e
