// The running agent as a page sees it, with a simulated ZelPlus volume and the test cloud:
// its idle cost, how quickly a command and the end of an update are answered, and how many
// log lines a second reach the page and the log file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/agent_process.h"
#include "support/agent_soak.h"
#include "support/capture_logger.h"
#include "support/page_client.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
using orvel::test::agent_process;
using orvel::test::page_client;

const std::string connect_command = "{\"command\":\"connect\"}";
constexpr auto idle_span = 10s;
constexpr int latency_rounds = 100;
constexpr unsigned update_rounds = 50;
constexpr std::size_t stream_texts = 5000;
// A page that keeps more than a few hundred texts ahead of the command loop is closed.
constexpr std::size_t texts_in_flight = 100;

double milliseconds_between(clock_type::time_point from, clock_type::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double at_share(std::vector<double> samples, double share) {
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(share * samples.size()))];
}

std::size_t count_in(const std::string& text, const std::string& fragment) {
    std::size_t count = 0;
    for (std::size_t at = text.find(fragment); at != std::string::npos;
         at = text.find(fragment, at + fragment.size())) {
        ++count;
    }
    return count;
}

// The CPU time of the process's threads in nanoseconds, from the scheduler's own accounts:
// the clock ticks of /proc/<pid>/stat are 10 ms, as coarse as the whole idle figure.
std::uint64_t cpu_time_ns(int pid) {
    std::uint64_t total = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator task("/proc/" + std::to_string(pid) + "/task", ec),
         end;
         !ec && task != end; task.increment(ec)) {
        std::ifstream schedstat(task->path() / "schedstat");
        std::uint64_t on_cpu_ns = 0;
        if (schedstat >> on_cpu_ns) {
            total += on_cpu_ns;
        }
    }
    return total;
}

void measure_idle(agent_process& agent) {
    const std::uint64_t before = cpu_time_ns(agent.pid());
    std::this_thread::sleep_for(idle_span);
    const double used_ms = (cpu_time_ns(agent.pid()) - before) / 1e6;
    const double span_ms = std::chrono::duration<double, std::milli>(idle_span).count();
    std::printf("idle with a page: %.1f ms CPU in %.0f s, %.3f %% of one core\n", used_ms,
                span_ms / 1000, 100.0 * used_ms / span_ms);
}

// From sending "connect" to receiving its Status 0. The commands go out at random points of
// the presence poll's 100 ms rhythm, as a member's clicks do, so that a loop that made them
// wait for it would show.
void measure_latency(page_client& page) {
    std::vector<double> samples;
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause_ms(0, 99);
    for (int round = 0; round < latency_rounds; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
        const std::size_t mark = page.received_count();
        const auto sent = clock_type::now();
        page.send(connect_command);
        if (!page.wait_for_status(0, 5s, mark)) {
            std::printf("latency: no status for round %d\n", round);
            return;
        }
        samples.push_back(milliseconds_between(sent, clock_type::now()));
    }
    std::printf("command to status over %d rounds: median %.1f ms, 99th percentile %.1f ms\n",
                latency_rounds, at_share(samples, 0.5), at_share(samples, 0.99));
}

// From the last line an update logs, as its thread ends, to its Status 4, both as the page
// receives them.
void measure_update_end(page_client& page, const orvel::test::soak_site& site) {
    std::size_t mark = page.received_count();
    page.send(site.search_command());
    if (!page.wait_for_status(2, 5s, mark)) {
        std::printf("update end: the unit was not found\n");
        return;
    }
    std::vector<double> samples;
    for (unsigned round = 1; round <= update_rounds; ++round) {
        std::size_t scanned = page.received_count();
        std::optional<clock_type::time_point> last_line;
        std::optional<int> final_status;
        page.send(orvel::test::update_command(round));
        // Evaluated as lines arrive; lines that arrive together get one time.
        page.wait_for(
            [&](const std::vector<std::string>& received) {
                const auto now = clock_type::now();
                for (; scanned < received.size(); ++scanned) {
                    const std::optional<int> status =
                        orvel::test::status_of(orvel::test::message_of_line(received[scanned]));
                    if (status == 4 || status == 5) {
                        final_status = status;
                        samples.push_back(milliseconds_between(last_line.value_or(now), now));
                        return true;
                    }
                    if (!status) {
                        last_line = now;
                    }
                }
                return false;
            },
            10s);
        if (final_status != 4) {
            std::printf("update end: update %u did not end with Status 4\n", round);
            return;
        }
    }
    std::printf("update end to Status 4 over %u updates: median %.1f ms, largest %.1f ms\n",
                update_rounds, at_share(samples, 0.5), at_share(samples, 1.0));
}

// Every received text is echoed as a log line at once by the server thread, and the command
// loop answers it with its failure, a Status 5 and the system line: a stream of texts is a
// stream of log lines through the hub to both loggers. The page keeps within the agent's
// bound of texts not yet taken, as a well-behaved page does.
void measure_log_rate(agent_process& agent, page_client& page) {
    const std::string text = "{\"command\":\"bench\"}";
    const std::string answer = "\"Data\":{\"Status\":5, \"Code\":1200}";
    const std::size_t mark = page.received_count();
    const auto start = clock_type::now();
    std::size_t scanned = mark;
    std::size_t answers = 0;
    const auto answered = [&](std::size_t enough) {
        return page.wait_for(
            [&](const std::vector<std::string>& received) {
                for (; scanned < received.size(); ++scanned) {
                    answers += received[scanned].find(answer) != std::string::npos ? 1 : 0;
                }
                return answers >= enough;
            },
            60s);
    };
    for (std::size_t sent = 0; sent < stream_texts;) {
        if (!answered(sent > texts_in_flight ? sent - texts_in_flight : 0)) {
            std::printf("log lines: the page did not get its answers in time\n");
            return;
        }
        for (; sent < stream_texts && sent - answers < texts_in_flight; ++sent) {
            page.send(text);
        }
    }
    if (!answered(stream_texts)) {
        std::printf("log lines: the page did not get its answers in time\n");
        return;
    }
    const double page_ms = milliseconds_between(start, clock_type::now());
    const std::size_t lines = page.received_count() - mark;
    while (count_in(agent.log_text(), answer) < answers && clock_type::now() - start < 120s) {
        std::this_thread::sleep_for(20ms);
    }
    const double file_ms = milliseconds_between(start, clock_type::now());
    std::printf(
        "log lines: %zu texts, at most %zu unanswered, brought %zu lines to the page in %.0f ms "
        "(%.0f lines/s) and to the file within %.0f ms (%.0f lines/s)\n",
        stream_texts, texts_in_flight, lines, page_ms, lines * 1000.0 / page_ms, file_ms,
        lines * 1000.0 / file_ms);
}

}  // namespace

int main() {
    const orvel::test::soak_site site;
    agent_process agent(site.agent());
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    page_client page;
    if (port == 0 || !page.connect(port) || !page.wait_for_status(0)) {
        std::fprintf(stderr, "the agent did not serve a page\n");
        return 1;
    }
    measure_idle(agent);
    measure_latency(page);
    measure_update_end(page, site);
    measure_log_rate(agent, page);
    return 0;
}
