// A program run to its end with what it printed: the packaging tests drive the system's
// own tools (cpack, lintian, dpkg-deb, certutil) and the installed scripts.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace orvel::test {

struct command_result {
    int status = -1;     // the exit status; 128 + the signal when one ended it
    std::string output;  // standard output and standard error, interleaved
};

// Runs the program (looked up in PATH when its name holds no "/") with standard input
// empty, in the test's environment with `environment` set on top. Throws
// std::runtime_error when it cannot be started.
command_result run_command(
    const std::vector<std::string>& arguments,
    const std::vector<std::pair<std::string, std::string>>& environment = {});

}  // namespace orvel::test
