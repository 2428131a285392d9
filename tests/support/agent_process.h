// The built agent run as a member runs it: its own copy of the executable with the
// certificate and key beside it, its own temporary folder (and so its own log file) and
// settings folder (and so its own member's certificate).
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_folder.h"

namespace orvel::test {

// The executable the build made ("" when the build has none).
std::string built_agent_path();
// The port of the first IPv4 socket the process listens on; 0 when none.
std::uint16_t listening_port(int pid);

struct agent_options {
    std::string executable = built_agent_path();
    // Copy the build's certificate / key beside the executable.
    bool with_certificate = true;
    bool with_key = true;
    // Run the executable where it is, with what lies beside it, rather than a copy with
    // the build's certificate and key (the two above then do nothing).
    bool in_place = false;
    // Serve on the page's own ports, 10001-10004, as a member's agent does. Otherwise the
    // agent gets four ports of this test process's own, so that tests run side by side;
    // tests on the page's ports take turns (RESOURCE_LOCK agent_ports).
    bool default_page_ports = false;
    // Set in the agent's environment on top of the test's own (TMPDIR and XDG_CONFIG_HOME
    // are set already; giving them here replaces them).
    std::vector<std::pair<std::string, std::string>> environment;
    // A program (searched in PATH) and its arguments that start the agent, which comes last
    // among them: it must end by running the agent in its own place (exec), as
    // "unshare -m sh -c '...; exec \"$1\"' x" does.
    std::vector<std::string> launcher;
};

class agent_process {
public:
    using duration = std::chrono::milliseconds;
    static constexpr duration default_wait = std::chrono::seconds(10);

    explicit agent_process(agent_options options = {});
    // Stops a running agent (SIGTERM, SIGKILL when it does not end) and removes its folder.
    ~agent_process();
    agent_process(const agent_process&) = delete;
    agent_process& operator=(const agent_process&) = delete;

    // Starts the copy; again after it ended, in the same folder. Throws when it cannot.
    void start();
    bool running();
    int pid() const { return pid_; }

    // The port the agent listens on once it does; 0 when it ended or the time ran out.
    std::uint16_t wait_for_port(duration timeout = default_wait);
    // The address its listening socket is bound to, as "a.b.c.d" ("" when none).
    std::string listen_address();

    // Sends the signal; waits for the end.
    void signal(int number);
    // The exit status (128 + signal when a signal ended it); nullopt on time-out.
    std::optional<int> wait_exit(duration timeout = default_wait);
    std::optional<int> stop(int number = SIGTERM, duration timeout = default_wait);

    // User and system CPU time used so far, in milliseconds.
    std::uint64_t cpu_time_ms();

    const std::string& folder() const { return folder_.path(); }
    // The agent's TMPDIR, ending with "/".
    const std::string& temp_dir() const { return temp_dir_; }
    // Where the agent keeps the member's own certificate, ending with "/".
    std::string member_dir() const { return folder_ / "config/orvelsync/"; }
    std::string executable_path() const;
    std::string log_path() const;
    std::string previous_log_path() const;

    std::string log_text() const;
    std::string previous_log_text() const;
    // The logged message of every line of the log (see message_of_line); lines that the
    // libraries printed without the envelope come as they are.
    std::vector<std::string> log_messages() const;
    bool log_mentions(const std::string& fragment) const;
    std::size_t log_count(const std::string& message) const;
    bool wait_for_log(const std::string& fragment, duration timeout = default_wait) const;
    // What it printed before pointing its output at the log file.
    std::string terminal_output() const;

private:
    void reap(int status);

    agent_options options_;
    temp_folder folder_{"agent"};
    std::string temp_dir_;
    int pid_ = -1;
    std::optional<int> exit_status_;
};

}  // namespace orvel::test
