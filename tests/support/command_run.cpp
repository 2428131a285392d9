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
    bp::environment env = boost::this_process::environment();
    for (const auto& [name, value] : environment) {
        env[name] = value;
    }
    bp::ipstream output;
    bp::child child(program, std::vector<std::string>(arguments.begin() + 1, arguments.end()), env,
                    bp::std_in<bp::null, (bp::std_out & bp::std_err)> output);
    command_result result;
    result.output.assign(std::istreambuf_iterator<char>(output), std::istreambuf_iterator<char>());
    child.wait();
    const int status = child.native_exit_code();
    result.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return result;
}

}  // namespace orvel::test
