#include "support/agent_soak.h"

#include <cstdlib>
#include <optional>
#include <thread>

#include "link/websock_server.h"
#include "support/byte_pattern.h"
#include "support/page_client.h"

namespace orvel::test {

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

const std::string user_key = "soak-key";
const std::string user_secret = "soak-secret";
constexpr std::size_t slot_size = 1808;  // a ZelPlus course slot
const unsigned garbage_course = 999;

// What a command must bring: a status line with this Status, or this whole status text.
struct expected_answer {
    int status;
    std::string text;
};

struct soak_command {
    std::string text;
    expected_answer answer;
};

std::vector<soak_command> session_commands(const soak_site& site) {
    const std::string finished = "{\"Status\":4, \"EjectNeeded\":1}";
    std::vector<soak_command> commands = {{site.search_command(), {2, ""}}};
    for (unsigned course = 1; course <= 6; ++course) {
        commands.push_back({update_command(course), {4, finished}});
    }
    commands.push_back({"{", {5, "{\"Status\":5, \"Code\":1200}"}});
    commands.push_back({update_command(garbage_course), {5, "{\"Status\":5, \"Code\":400}"}});
    commands.push_back({R"({"command":"connect"})", {0, ""}});
    return commands;
}

std::string course_answer(const std::string& id) {
    return R"({"Status":1,"ErrorMessage":"","glfCourse":{"index":1,"glf":")" +
           reference_base64(pattern(slot_size, static_cast<unsigned>(std::atoi(id.c_str())))) +
           R"("},"id_course":)" + id + R"(,"courseName":"Soak )" + id + "\"}";
}

bool answered(page_client& page, const expected_answer& answer, std::size_t from) {
    if (answer.text.empty()) {
        return page.wait_for_status(answer.status, 10s, from).has_value();
    }
    return page.wait_for_message(answer.text, 10s, from).has_value();
}

}  // namespace

soak_site::soak_site() {
    cloud_.keep_records(false);
    cloud_.add_user(user_key, user_secret);
    cloud_.handle_rest("DeviceCourseDataDetails", [](const recorded_request& request) {
        const std::size_t quote = request.body.find(":\"");
        const std::string id =
            quote == std::string::npos
                ? "0"
                : request.body.substr(quote + 2, request.body.find('"', quote + 2) - quote - 2);
        return http_reply::json(id == std::to_string(garbage_course) ? "{\"Status\":1,\"glfCo"
                                                                     : course_answer(id));
    });
    write_file(volume_ / "SYSREG.SMI", "");
    write_file(volume_ / "EMBEDD01.GLF", pattern(4 * slot_size, 1));
}

agent_options soak_site::agent() const {
    agent_options options;
    options.environment = {{"ORVELSYNC_VOLUMES", volume_.path()}};
    // A sanitized agent keeps freed memory in quarantine for a while, which looks like
    // growth; without it the figures mean the same in every build.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    options.environment.emplace_back("ASAN_OPTIONS",
                                     std::string(sanitizer != nullptr ? sanitizer : "") +
                                         ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0");
    return options;
}

std::string soak_site::search_command() const {
    return R"({"command":"SearchDevice","device":"ZelPlus","server":")" + cloud_.host() +
           R"(","userKey":")" + user_key + R"(","userSecret":")" + user_secret +
           R"(","id_memberProduct":0})";
}

std::string update_command(unsigned course) {
    return R"({"command":"UpdateCourse","courseCode":")" + std::to_string(course) + "\"}";
}

bool soak_result::flat() const {
    const soak_sample* warmed = nullptr;
    for (const soak_sample& sample : samples) {
        if (std::string(sample.when) == "warmed") {
            warmed = &sample;
        } else if (warmed != nullptr &&
                   (!within_tenth(warmed->figures.resident_kb, sample.figures.resident_kb) ||
                    !within_tenth(warmed->figures.open_files, sample.figures.open_files))) {
            return false;
        }
    }
    return warmed != nullptr && samples.size() > 2;
}

soak_result run_soak(const soak_plan& plan,
                     const std::function<void(const soak_sample&)>& on_sample) {
    soak_result result;
    const steady::time_point began = steady::now();
    const soak_site site;
    agent_process agent(site.agent());
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    if (port == 0) {
        result.failure = "the agent did not listen";
        return result;
    }
    const std::vector<soak_command> commands = session_commands(site);
    const unsigned middle = plan.sessions / 2;

    // The agent lets a page's socket go only when the page has answered the TLS shutdown or
    // its time for that has run out, and no page answers: each page that left holds its
    // socket and buffers for that long. A sample waits until those of earlier pages are gone.
    const auto shutdown_time =
        std::chrono::milliseconds(tls_server_config::transport_config::timeout_socket_shutdown);
    auto sample = [&](const char* when) {
        if (result.sessions > 0) {
            std::this_thread::sleep_for(shutdown_time + 500ms);
        }
        result.samples.push_back({when, result.sessions, result.commands, figures_of(agent.pid())});
        if (on_sample) {
            on_sample(result.samples.back());
        }
    };

    for (unsigned session = 0; session < plan.sessions; ++session) {
        if (steady::now() - began > plan.time_limit) {
            break;
        }
        page_client page;
        if (!page.connect(port) || !page.wait_for_status(0, 10s)) {
            result.failure = "page " + std::to_string(session) + " was not served";
            break;
        }
        // Taken at the same point of a session, with a page connected and idle.
        if (session == 0) {
            sample("start");
        } else if (session == plan.warm_up_sessions) {
            sample("warmed");
        } else if (session == middle && middle > plan.warm_up_sessions) {
            sample("middle");
        }
        for (const soak_command& command : commands) {
            const std::size_t mark = page.received_count();
            page.send(command.text);
            if (!answered(page, command.answer, mark)) {
                result.failure =
                    "no answer to " + command.text + " in session " + std::to_string(session);
                break;
            }
            ++result.commands;
        }
        if (!result.failure.empty()) {
            break;
        }
        page.close();
        ++result.sessions;
    }
    // After the last page went, and the agent has noticed.
    if (result.failure.empty()) {
        page_client page;
        if (page.connect(port) && page.wait_for_status(0, 10s)) {
            sample("end");
        } else {
            result.failure = "the last page was not served";
        }
    }
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - began);
    return result;
}

}  // namespace orvel::test
