#include "support/command_run.h"

#include <sys/wait.h>

#include <boost/process.hpp>
#include <iterator>
#include <stdexcept>

namespace orvel::test {

namespace bp = boost::process;

command_result run_command(const std::vector<std::string>& arguments,
                           const std::vector<std::pair<std::string, std::string>>& environment) {
    if (arguments.empty()) {
        throw std::invalid_argument("run_command: no program");
    }
    const boost::filesystem::path program = arguments[0].find('/') == std::string::npos
                                                ? bp::search_path(arguments[0])
                                                : boost::filesystem::path(arguments[0]);
    if (program.empty()) {
        throw std::runtime_error("run_command: " + arguments[0] + " is not installed");
    }
    // Through env(1) rather than Boost.Process's environment, whose look-up by name reads
    // past the end of shorter entries (Boost 1.74).
    std::vector<std::string> env_arguments;
    for (const auto& [name, value] : environment) {
        env_arguments.push_back(name + "=" + value);
    }
    env_arguments.push_back(program.string());
    env_arguments.insert(env_arguments.end(), arguments.begin() + 1, arguments.end());
    bp::ipstream output;
    bp::child child(bp::search_path("env"), env_arguments,
                    bp::std_in<bp::null, (bp::std_out & bp::std_err)> output);
    command_result result;
    result.output.assign(std::istreambuf_iterator<char>(output), std::istreambuf_iterator<char>());
    child.wait();
    const int status = child.native_exit_code();
    result.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return result;
}

}  // namespace orvel::test
