#include "support/dev_session.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/agent_process.h"

extern char** environ;

namespace orvel::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string console_prefix = "Console: ";

// Every process's parent, from /proc/<pid>/stat.
std::map<int, int> parents() {
    std::map<int, int> found;
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream in(it->path() / "stat");
        std::string stat;
        std::getline(in, stat);
        // "<pid> (<comm>) <state> <ppid> ...": the name may hold blanks and parentheses.
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        int parent = 0;
        rest >> state >> parent;
        found[std::stoi(name)] = parent;
    }
    return found;
}

}  // namespace

std::string process_command_line(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (char& c : line) {
        if (c == '\0') {
            c = ' ';
        }
    }
    return line;
}

dev_session::dev_session() {
    std::vector<std::string> arguments = {ORVEL_SOURCE_DIR "/scripts/run", ORVEL_BINARY_DIR};
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::string(*entry).rfind("TMPDIR=", 0) != 0) {
            environment.push_back(*entry);
        }
    }
    environment.push_back("TMPDIR=" + folder_.path());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output_path = folder_ / "output.txt";
    posix_spawn_file_actions_addopen(&actions, 1, output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int result = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        throw std::runtime_error("cannot start scripts/run");
    }
    pid_ = pid;
}

dev_session::~dev_session() {
    if (pid_ <= 0) {
        return;
    }
    for (const int pid : descendants()) {
        started_.push_back(pid);
    }
    if (!stop(SIGTERM, 10s)) {
        for (const int pid : started_) {
            ::kill(pid, SIGKILL);
        }
        stop(SIGKILL, 5s);
    }
}

std::string dev_session::output() const {
    return read_file(folder_ / "output.txt");
}

std::string dev_session::wait_for_console(duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string text = output();
        const std::size_t at = text.find(console_prefix);
        const std::size_t end = at == std::string::npos ? at : text.find('\n', at);
        if (end != std::string::npos) {
            return text.substr(at + console_prefix.size(), end - at - console_prefix.size());
        }
        // Ended, but left to wait_exit to reap with its status.
        siginfo_t info{};
        if (pid_ <= 0 ||
            (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
             info.si_pid == pid_)) {
            return std::string();
        }
        std::this_thread::sleep_for(50ms);
    }
    return std::string();
}

std::vector<int> dev_session::descendants() const {
    const std::map<int, int> parent_of = parents();
    std::vector<int> found;
    std::vector<int> frontier = {pid_};
    while (!frontier.empty()) {
        const int parent = frontier.back();
        frontier.pop_back();
        for (const auto& [pid, ppid] : parent_of) {
            if (ppid == parent) {
                found.push_back(pid);
                frontier.push_back(pid);
            }
        }
    }
    return found;
}

int dev_session::find_program(const std::string& name) const {
    for (const int pid : descendants()) {
        std::error_code ec;
        const fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
        if (!ec && exe.filename() == name) {
            return pid;
        }
    }
    return -1;
}

std::uint16_t dev_session::wait_for_agent_port(duration timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const int agent = find_program("orvelsync");
        if (agent > 0) {
            if (const std::uint16_t port = listening_port(agent)) {
                return port;
            }
        }
        std::this_thread::sleep_for(50ms);
    }
    return 0;
}

std::string dev_session::units_folder() const {
    std::error_code ec;
    for (fs::directory_iterator it(folder_.path(), ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().rfind("orvelsync-dev.", 0) == 0) {
            return (it->path() / "units").string() + "/";
        }
    }
    return std::string();
}

std::optional<int> dev_session::stop(int signal, duration timeout) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    ::kill(pid_, signal);
    return wait_exit(timeout);
}

std::optional<int> dev_session::wait_exit(duration timeout) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
}

}  // namespace orvel::test
