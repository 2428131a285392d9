#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <boost/filesystem/operations.hpp>
#include <boost/process/search_path.hpp>
#include <stdexcept>

extern char** environ;

namespace orvel::test {

child_process::child_process(const std::vector<std::string>& arguments,
                             const std::string& input_path, int output_fd,
                             const std::vector<std::pair<int, int>>& descriptors) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!input_path.empty()) {
        posix_spawn_file_actions_addopen(&actions, 0, input_path.c_str(), O_RDONLY, 0);
    }
    if (output_fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, output_fd, 1);
    }
    for (const auto& [ours, theirs] : descriptors) {
        posix_spawn_file_actions_adddup2(&actions, ours, theirs);
    }
    pid_t pid = -1;
    const int result = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        throw std::runtime_error("cannot start " + arguments.front());
    }
    pid_ = pid;
}

child_process::~child_process() {
    kill();
}

void child_process::kill() {
    end(SIGKILL);
}

void child_process::stop() {
    end(SIGTERM);
}

void child_process::end(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

std::string resolved_path(const std::string& path) {
    boost::system::error_code ec;
    return boost::filesystem::canonical(path, ec).string();
}

std::string program_path(const std::string& name) {
    return boost::process::search_path(name).string();
}

}  // namespace orvel::test
