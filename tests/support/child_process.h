// A child process of a test, killed and reaped when the test is done with it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace orvel::test {

class child_process {
public:
    // Runs the program (searched in PATH) with its standard input read from input_path
    // when one is given, and its standard output going to output_fd when that is not -1.
    // Each pair of `descriptors` hands the test's descriptor (first) to the child under the
    // number given second. Throws std::runtime_error when it cannot be started.
    explicit child_process(const std::vector<std::string>& arguments,
                           const std::string& input_path = {}, int output_fd = -1,
                           const std::vector<std::pair<int, int>>& descriptors = {});
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    int pid() const { return pid_; }
    // Ends it now (SIGKILL) and reaps it.
    void kill();
    // Asks it to end (SIGTERM) and reaps it.
    void stop();

private:
    void end(int signal);

    int pid_ = -1;
};

// The file a path resolves to, links followed.
std::string resolved_path(const std::string& path);
// The full path of a program found in PATH ("" when none).
std::string program_path(const std::string& name);

}  // namespace orvel::test
