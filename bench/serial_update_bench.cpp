// One course update of each serial protocol, as "UpdateCourse" runs it (course request to
// the loopback cloud server, then the unit's protocol), against the simulated units. Prints
// the time each took and how much of it the protocol's own fixed pauses and read time-outs
// account for; the rest is the agent's overhead.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/events.h"
#include "base/failures.h"
#include "devices/model_table.h"
#include "sim/hx62_unit.h"
#include "sim/jt_unit.h"
#include "sim/tavlin_unit.h"
#include "sim/test_http_server.h"
#include "sim/vemo_unit.h"
#include "sim/zel_unit.h"
#include "support/capture_logger.h"

namespace {

using namespace orvel;

// Log lines of the HX62 protocol that each stand for one fixed wait, and its length in ms.
struct fixed_wait {
    const char* what;
    const char* line;  // the message, or its beginning
    bool prefix;
    double ms;
};

const fixed_wait hx62_waits[] = {
    {"pause after each command", "trying to send #", true, 1000},
    {"pause after each port write", "Sent bytes: #", true, 100},
    {"pause before each port read", "Bytes read: ", true, 25},
    {"quiet time that ends a read", "Bytes read: ", true, 100},
    {"pause before a read-back", "Sector: ", true, 250},
    {"idle polls for a reply", "Bytes available: 0", false, 24},
};

// Every message of the text protocols costs the write's pause and the unit's time to act
// (100 + 250 ms), and its reply the read's pause and quiet time (25 + 100 ms).
constexpr double message_ms = 350;
constexpr double reply_ms = 125;

std::size_t count_lines(const test::capture_logger& logger, const fixed_wait& wait) {
    std::size_t count = 0;
    for (const std::string& message : logger.messages()) {
        if (wait.prefix ? message.rfind(wait.line, 0) == 0 : message == wait.line) {
            ++count;
        }
    }
    return count;
}

std::string course_answer(const std::string& name, const std::string& glf,
                          const std::string& extra = "") {
    return R"({"Status":1,"ErrorMessage":"","glfCourse":{"index":5,"glf":")" +
           test::reference_base64(glf) + R"("},"id_course":505,"courseName":")" + name + "\"" +
           extra + "}";
}

// The update's time in ms; negative when it failed.
double timed_update(test::test_http_server& cloud, const std::string& port_entry,
                    const std::string& answer, const std::string& model) {
    cloud.reply_rest("DeviceCourseDataDetails", test::http_reply::json(answer));
    ::setenv("ORVELSYNC_SERIAL_PORTS", port_entry.c_str(), 1);
    event interrupt;
    connection_settings settings;
    settings.server = cloud.host();
    settings.userKey = "bench-key";
    settings.userSecret = "bench-secret";
    const std::unique_ptr<device_connection> connection =
        make_device_connection(model, settings, interrupt);
    const auto start = std::chrono::steady_clock::now();
    try {
        connection->update_course("505");
    } catch (const base_exception& e) {
        std::printf("update failed: %s\n", e.message().c_str());
        return -1;
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void print_share(double fixed_ms, double total_ms) {
    std::printf("  protocol waits in all          %6.2f s (%.1f %%)\n", fixed_ms / 1000,
                100 * fixed_ms / total_ms);
    std::printf("  agent overhead                 %6.3f s (%.1f %%)\n",
                (total_ms - fixed_ms) / 1000, 100 * (total_ms - fixed_ms) / total_ms);
}

bool hx62_update(test::test_http_server& cloud) {
    // Index 5 of 1000-byte records starts at byte 4000 of sector 77 and ends in sector 78.
    std::string glf(1000, '\0');
    for (std::size_t i = 0; i < glf.size(); ++i) {
        glf[i] = static_cast<char>(i * 13);
    }
    test::hx62_unit unit;
    unit.set_storage({{1, 0x4D000, 40000, 1000, 40}});
    test::capture_logger logger;
    const double total_ms = timed_update(
        cloud, unit.port_entry(), course_answer("Bench", glf, R"(,"totalCourses":40)"), "HXZelX");
    const byte_vector sector78 = unit.sector(78);
    if (total_ms < 0 || std::string(sector78.begin(), sector78.begin() + 904) != glf.substr(96)) {
        std::printf("the HX62 course did not reach sector 78\n");
        return false;
    }
    std::printf("HX62 course update of two sectors: %.2f s\n", total_ms / 1000);
    double fixed_ms = 0;
    for (const fixed_wait& wait : hx62_waits) {
        const std::size_t count = count_lines(logger, wait);
        fixed_ms += count * wait.ms;
        std::printf("  %-30s %3zu x %4.0f ms = %6.2f s\n", wait.what, count, wait.ms,
                    count * wait.ms / 1000);
    }
    print_share(fixed_ms, total_ms);
    return true;
}

// Prints the figures of one text-protocol update in which every message had its reply.
bool report(const char* what, double total_ms, std::size_t messages, bool stored) {
    if (total_ms < 0 || !stored) {
        std::printf("the %s did not reach the unit\n", what);
        return false;
    }
    std::printf("%s: %.2f s\n", what, total_ms / 1000);
    std::printf("  %-30s %3zu x %4.0f ms = %6.2f s\n", "write and time to act", messages,
                message_ms, messages * message_ms / 1000);
    std::printf("  %-30s %3zu x %4.0f ms = %6.2f s\n", "read pause and quiet time", messages,
                reply_ms, messages * reply_ms / 1000);
    print_share(messages * (message_ms + reply_ms), total_ms);
    return true;
}

std::string hole_lists(bool with_tees) {
    std::string holes;
    std::string tees;
    for (int hole = 1; hole <= 18; ++hole) {
        const std::string n = std::to_string(hole);
        holes += (hole > 1 ? "," : "") + std::string(R"(["xx1,)") + n + R"(","xx2,)" + n + R"("])";
        tees += (hole > 1 ? "," : "") + std::string(R"("xxT)") + n + "\"";
    }
    return R"({"holeCount":18,"holes":[)" + holes + "]" +
           (with_tees ? R"(,"tees":[)" + tees + "]" : std::string()) + "}";
}

bool jt_update(test::test_http_server& cloud) {
    std::string glf(6293, '\0');
    for (std::size_t i = 60; i < glf.size(); ++i) {
        glf[i] = static_cast<char>(i * 11);
    }
    glf.replace(0, 5, "Bench");
    glf[49] = 1;  // one hole image
    test::jt_unit unit;
    const double total_ms =
        timed_update(cloud, unit.port_entry(), course_answer("Bench", glf), "JT");
    return report("JT course of 40 pages and one hole image", total_ms,
                  unit.line().messages().size(), unit.images().size() == 1);
}

bool zel_update(test::test_http_server& cloud) {
    test::zel_unit unit;
    for (std::size_t index = 0; index < 3; ++index) {
        unit.set_slot(index, "Other " + std::to_string(index));
    }
    const double total_ms =
        timed_update(cloud, unit.port_entry(), course_answer("Bench", hole_lists(false)), "Zel");
    return report("Zel course of 18 holes, 36 points, in slot 4", total_ms,
                  unit.line().messages().size(), unit.slot(3).holes.size() == 18);
}

bool vemo_update(test::test_http_server& cloud) {
    std::string glf(7040, '\0');
    for (std::size_t i = 0; i < glf.size(); ++i) {
        glf[i] = static_cast<char>(i * 3);
    }
    test::vemo_unit unit;
    const double total_ms =
        timed_update(cloud, unit.port_entry(), course_answer("Bench", glf), "Vemo");
    return report("Vemo course of 55 blocks", total_ms, unit.line().messages().size(),
                  unit.ended() && unit.course().size() == glf.size());
}

bool tavlin_update(test::test_http_server& cloud) {
    test::tavlin_unit unit;
    for (std::size_t slot = 1; slot <= 6; ++slot) {
        unit.set_slot(slot, "Other " + std::to_string(slot));
    }
    const double total_ms =
        timed_update(cloud, unit.port_entry(), course_answer("Bench", hole_lists(true)), "Tavlin");
    // A filler packet after a message goes in the same write and gets no reply of its own.
    const std::vector<byte_vector> sent = unit.line().messages();
    const auto messages = std::count_if(
        sent.begin(), sent.end(), [](const byte_vector& message) { return message[4] != 0xC6; });
    return report("Tavlin course of 18 holes, 36 points, in slot 7", total_ms,
                  static_cast<std::size_t>(messages), unit.slot(7).tees.size() == 18);
}

}  // namespace

int main() {
    test::test_http_server cloud;
    cloud.add_user("bench-key", "bench-secret");
    const bool all = hx62_update(cloud) && jt_update(cloud) && zel_update(cloud) &&
                     vemo_update(cloud) && tavlin_update(cloud);
    return all ? 0 : 1;
}
