// The running agent as a page sees it: its idle cost, how quickly a command is answered
// and how many log lines a second reach the page and the log file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/agent_process.h"
#include "support/page_client.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
using orvel::test::agent_process;
using orvel::test::page_client;

const std::string connect_command = "{\"command\":\"connect\"}";
constexpr auto idle_span = 10s;
constexpr int latency_rounds = 100;
constexpr std::size_t burst_lines = 20000;

double milliseconds_between(clock_type::time_point from, clock_type::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::size_t count_in(const std::string& text, const std::string& fragment) {
    std::size_t count = 0;
    for (std::size_t at = text.find(fragment); at != std::string::npos;
         at = text.find(fragment, at + fragment.size())) {
        ++count;
    }
    return count;
}

void measure_idle(agent_process& agent) {
    const std::uint64_t before = agent.cpu_time_ms();
    std::this_thread::sleep_for(idle_span);
    const std::uint64_t used = agent.cpu_time_ms() - before;
    const double span_ms = std::chrono::duration<double, std::milli>(idle_span).count();
    std::printf("idle with a page: %llu ms CPU in %.0f s, %.2f %% of one core\n",
                static_cast<unsigned long long>(used), span_ms / 1000, 100.0 * used / span_ms);
}

// From sending "connect" to receiving its Status 0. The command loop takes a command per
// 100 ms pass; a page that sent each command right after the last answer would always meet
// the start of a pass, so the commands go out at random points of it, as a member's clicks do.
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
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double share) {
        return samples[std::min(samples.size() - 1,
                                static_cast<std::size_t>(share * samples.size()))];
    };
    std::printf("command to status over %d rounds: median %.1f ms, 99th percentile %.1f ms\n",
                latency_rounds, at(0.5), at(0.99));
}

// Every received text is echoed as a log line at once by the server thread, so a burst of
// texts is a burst of log lines through the hub to both loggers.
void measure_log_rate(agent_process& agent, page_client& page) {
    const std::string text = "{\"command\":\"bench\"}";
    const std::string echo = "Received message: {\\\"command\\\":\\\"bench\\\"}";
    const std::size_t mark = page.received_count();
    const auto start = clock_type::now();
    for (std::size_t i = 0; i < burst_lines; ++i) {
        page.send(text);
    }
    // The command loop answers the texts meanwhile; only the echoes count.
    std::size_t scanned = mark;
    std::size_t echoes = 0;
    const bool paged = page.wait_for(
        [&](const std::vector<std::string>& received) {
            for (; scanned < received.size(); ++scanned) {
                echoes += received[scanned].find(echo) != std::string::npos ? 1 : 0;
            }
            return echoes >= burst_lines;
        },
        120s);
    const double page_ms = milliseconds_between(start, clock_type::now());
    while (count_in(agent.log_text(), echo) < burst_lines && clock_type::now() - start < 120s) {
        std::this_thread::sleep_for(20ms);
    }
    const double file_ms = milliseconds_between(start, clock_type::now());
    if (!paged) {
        std::printf("log lines: the page did not get the burst in time\n");
        return;
    }
    std::printf(
        "log lines: %zu lines reached the page in %.0f ms (%.0f lines/s) and the file "
        "within %.0f ms (%.0f lines/s)\n",
        burst_lines, page_ms, burst_lines * 1000.0 / page_ms, file_ms,
        burst_lines * 1000.0 / file_ms);
}

}  // namespace

int main() {
    agent_process agent;
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    page_client page;
    if (port == 0 || !page.connect(port) || !page.wait_for_status(0)) {
        std::fprintf(stderr, "the agent did not serve a page\n");
        return 1;
    }
    measure_idle(agent);
    measure_latency(page);
    measure_log_rate(agent, page);
    return 0;
}
