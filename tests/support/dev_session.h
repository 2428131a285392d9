// scripts/run as a developer starts it: the agent, the development cloud and the simulated
// units from the build, with a temporary folder of its own as TMPDIR (where the session's
// folder and the agent's log go).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace orvel::test {

class dev_session {
public:
    using duration = std::chrono::milliseconds;

    // Starts scripts/run on the build the tests belong to (which it brings up to date).
    dev_session();
    // Stops what still runs: SIGTERM, then SIGKILL for every process it started.
    ~dev_session();
    dev_session(const dev_session&) = delete;
    dev_session& operator=(const dev_session&) = delete;

    // The address of its "Console: " line once printed; "" when it ended or the time ran
    // out first.
    std::string wait_for_console(duration timeout = std::chrono::seconds(120));
    // What it printed so far.
    std::string output() const;
    int pid() const { return pid_; }

    // The processes below it now, its own excluded.
    std::vector<int> descendants() const;
    // The first of them that runs the program of that name; -1 when none does.
    int find_program(const std::string& name) const;
    // The agent's port once it listens; 0 on time-out.
    std::uint16_t wait_for_agent_port(duration timeout = std::chrono::seconds(10)) const;
    // The folder of the simulated units ("" before there is one).
    std::string units_folder() const;
    const std::string& temp_dir() const { return folder_.path(); }

    // Sends the signal and waits for the end; the exit status (128 + signal when a signal
    // ended it), nullopt on time-out.
    std::optional<int> stop(int signal, duration timeout = std::chrono::seconds(15));
    // Waits for it to end by itself.
    std::optional<int> wait_exit(duration timeout);

private:
    temp_folder folder_{"session"};
    int pid_ = -1;
    std::vector<int> started_;  // every process seen below it, for the destructor
};

// The command line of a running process, arguments joined by blanks ("" when it is gone).
std::string process_command_line(int pid);

}  // namespace orvel::test
