// One HX62 course update of two sectors, as "UpdateCourse" runs it (course request to the
// loopback cloud server, storage read, two sectors patched with read-back), against the
// simulated unit. Prints the time it took and how much of it the protocol's own fixed
// pauses and read time-outs account for; the rest is the agent's overhead.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/events.h"
#include "devices/serial/hx62_models.h"
#include "support/capture_logger.h"
#include "support/hx62_unit.h"
#include "support/test_http_server.h"

namespace {

using namespace orvel;

// Log lines that each stand for one fixed wait of the protocol, and its length in ms.
struct fixed_wait {
    const char* what;
    const char* line;  // the message, or its beginning
    bool prefix;
    double ms;
};

const fixed_wait fixed_waits[] = {
    {"pause after each command", "trying to send #", true, 1000},
    {"pause after each port write", "Sent bytes: #", true, 100},
    {"pause before each port read", "Bytes read: ", true, 25},
    {"quiet time that ends a read", "Bytes read: ", true, 100},
    {"pause before a read-back", "Sector: ", true, 250},
    {"idle polls for a reply", "Bytes available: 0", false, 24},
};

std::size_t count_lines(const test::capture_logger& logger, const fixed_wait& wait) {
    std::size_t count = 0;
    for (const std::string& message : logger.messages()) {
        if (wait.prefix ? message.rfind(wait.line, 0) == 0 : message == wait.line) {
            ++count;
        }
    }
    return count;
}

std::string course_answer(const std::string& glf_base64) {
    return R"({"Status":1,"ErrorMessage":"","glfCourse":{"index":5,"glf":")" + glf_base64 +
           R"("},"id_course":505,"courseName":"Bench","totalCourses":40})";
}

}  // namespace

int main() {
    test::test_http_server cloud;
    cloud.add_user("bench-key", "bench-secret");
    // Index 5 of 1000-byte records starts at byte 4000 of sector 77 and ends in sector 78.
    std::string glf(1000, '\0');
    for (std::size_t i = 0; i < glf.size(); ++i) {
        glf[i] = static_cast<char>(i * 13);
    }
    cloud.reply_rest("DeviceCourseDataDetails",
                     test::http_reply::json(course_answer(test::reference_base64(glf))));

    test::hx62_unit unit;
    unit.set_storage({{1, 0x4D000, 40000, 1000, 40}});
    ::setenv("ORVELSYNC_SERIAL_PORTS", unit.port_entry().c_str(), 1);

    event interrupt;
    connection_settings settings;
    settings.server = cloud.host();
    settings.userKey = "bench-key";
    settings.userSecret = "bench-secret";
    HXZelXConnection connection(settings, interrupt);

    test::capture_logger logger;
    const auto start = std::chrono::steady_clock::now();
    try {
        connection.update_course("505");
    } catch (const base_exception& e) {
        std::printf("update failed: %s\n", e.message().c_str());
        return 1;
    }
    const double total_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const byte_vector sector78 = unit.sector(78);
    if (std::string(sector78.begin(), sector78.begin() + 904) != glf.substr(96)) {
        std::printf("the course did not reach sector 78\n");
        return 1;
    }

    std::printf("HX62 course update of two sectors: %.2f s\n", total_ms / 1000);
    double fixed_ms = 0;
    for (const fixed_wait& wait : fixed_waits) {
        const std::size_t count = count_lines(logger, wait);
        fixed_ms += count * wait.ms;
        std::printf("  %-30s %3zu x %4.0f ms = %6.2f s\n", wait.what, count, wait.ms,
                    count * wait.ms / 1000);
    }
    std::printf("  protocol waits in all          %6.2f s (%.1f %%)\n", fixed_ms / 1000,
                100 * fixed_ms / total_ms);
    std::printf("  agent overhead                 %6.3f s (%.1f %%)\n",
                (total_ms - fixed_ms) / 1000, 100 * (total_ms - fixed_ms) / total_ms);
    return 0;
}
