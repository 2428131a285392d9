#include "support/agent_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/capture_logger.h"

extern char** environ;

namespace orvel::test {

namespace fs = boost::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string host_name = ORVEL_LOCAL_HOST_NAME;
const std::string log_name = "OrvelSync2_Service.log";
const std::string terminal_name = "terminal.txt";

std::string folder_of(const std::string& path) {
    return fs::path(path).parent_path().string() + "/";
}

// The socket inodes the process holds open.
std::vector<std::string> socket_inodes(int pid) {
    std::vector<std::string> inodes;
    boost::system::error_code ec;
    for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string target = fs::read_symlink(it->path(), ec).string();
        if (!ec && target.rfind("socket:[", 0) == 0) {
            inodes.push_back(target.substr(8, target.size() - 9));
        }
    }
    return inodes;
}

struct listener {
    std::string address;
    std::uint16_t port = 0;
};

// The first IPv4 socket in LISTEN state that belongs to the process.
std::optional<listener> find_listener(int pid) {
    const std::vector<std::string> inodes = socket_inodes(pid);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (state != "0A" || std::find(inodes.begin(), inodes.end(), inode) == inodes.end()) {
            continue;
        }
        // "0100007F:2711": the address in host byte order (little-endian here), the port.
        const unsigned long raw = std::stoul(local.substr(0, 8), nullptr, 16);
        listener found;
        found.address = std::to_string(raw & 0xff) + "." + std::to_string((raw >> 8) & 0xff) + "." +
                        std::to_string((raw >> 16) & 0xff) + "." +
                        std::to_string((raw >> 24) & 0xff);
        found.port = static_cast<std::uint16_t>(std::stoul(local.substr(9), nullptr, 16));
        return found;
    }
    return std::nullopt;
}

std::vector<std::string> environment_with(
    const std::vector<std::pair<std::string, std::string>>& extra) {
    std::map<std::string, std::string> values;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) {
            values[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : extra) {
        values[name] = value;
    }
    std::vector<std::string> out;
    for (const auto& [name, value] : values) {
        out.push_back(name + "=" + value);
    }
    return out;
}

// Four ports for the agents of this test process, by its pid, between 20000 and 29999: below
// the ephemeral ports that connections take (32768 and up), so no client socket holds them.
// Two test processes that land on the same four still get a port each, as the agent takes the
// next free one and the tests ask the agent which it took.
std::string own_page_ports() {
    const unsigned first = 20000 + static_cast<unsigned>(::getpid()) % 2500 * 4;
    return std::to_string(first) + "-" + std::to_string(first + 3);
}

}  // namespace

std::uint16_t listening_port(int pid) {
    const auto found = find_listener(pid);
    return found ? found->port : 0;
}

std::string built_agent_path() {
#ifdef ORVELSYNC_EXECUTABLE
    return ORVELSYNC_EXECUTABLE;
#else
    return {};
#endif
}

agent_process::agent_process(agent_options options) : options_(std::move(options)) {
    if (options_.executable.empty()) {
        throw std::runtime_error("agent_process: the build made no agent executable");
    }
    temp_dir_ = folder_ / "tmp/";
    fs::create_directories(temp_dir_);
    // The user's alone, so the agent writes its log right there.
    fs::permissions(temp_dir_, fs::perms::owner_all);
    if (options_.in_place) {
        return;
    }
    fs::copy_file(options_.executable, executable_path());
    const std::string built = folder_of(options_.executable);
    if (options_.with_certificate) {
        fs::copy_file(built + host_name + ".cert", folder_ / (host_name + ".cert"));
    }
    if (options_.with_key) {
        fs::copy_file(built + host_name + ".key", folder_ / (host_name + ".key"));
    }
}

agent_process::~agent_process() {
    if (running()) {
        signal(SIGTERM);
        if (!wait_exit(5s)) {
            signal(SIGKILL);
            wait_exit(5s);
        }
    }
}

std::string agent_process::executable_path() const {
    return options_.in_place ? options_.executable : folder_ / "orvelsync";
}

void agent_process::start() {
    if (running()) {
        throw std::logic_error("agent_process: already running");
    }
    // Never the tester's own settings: a member's certificate the agent makes goes here.
    std::vector<std::pair<std::string, std::string>> extra = {
        {"TMPDIR", temp_dir_}, {"XDG_CONFIG_HOME", folder_ / "config"}};
    if (!options_.default_page_ports) {
        extra.emplace_back("ORVELSYNC_PAGE_PORTS", own_page_ports());
    }
    extra.insert(extra.end(), options_.environment.begin(), options_.environment.end());
    std::vector<std::string> environment = environment_with(extra);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> words = options_.launcher;
    words.push_back(executable_path());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const std::string terminal = folder_ / terminal_name;
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, terminal.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // Nothing else of the test's: a held port's listening socket handed down would both
    // look like the agent's own listener and keep the port taken after the test let go.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // As a shell would start it: default signal handling, nothing blocked (the test
    // ignores SIGPIPE, which a child would inherit).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    // The agent finds its certificate beside the executable and its log under TMPDIR,
    // not in the working folder; the test's folder is as good as any.
    pid_t pid = -1;
    const int result =
        posix_spawnp(&pid, words.front().c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        throw std::runtime_error("agent_process: cannot start " + words.front());
    }
    pid_ = pid;
    exit_status_.reset();
}

bool agent_process::running() {
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        reap(status);
        return false;
    }
    return true;
}

void agent_process::reap(int status) {
    exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
}

std::uint16_t agent_process::wait_for_port(duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (const auto found = find_listener(pid_)) {
            return found->port;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    return 0;
}

std::string agent_process::listen_address() {
    if (!running()) {
        return {};
    }
    const auto found = find_listener(pid_);
    return found ? found->address : std::string();
}

void agent_process::signal(int number) {
    if (pid_ > 0) {
        ::kill(pid_, number);
    }
}

std::optional<int> agent_process::wait_exit(duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(2ms);
    }
    return exit_status_;
}

std::optional<int> agent_process::stop(int number, duration timeout) {
    signal(number);
    return wait_exit(timeout);
}

std::uint64_t agent_process::cpu_time_ms() {
    if (!running()) {
        return 0;
    }
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name may hold blanks; the fields after it are fixed: utime and stime are
    // the 14th and 15th of the line, the 12th and 13th after the name's ")".
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    std::uint64_t utime = 0;
    std::uint64_t stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) {
            utime = std::stoull(field);
        } else if (index == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    const long ticks = ::sysconf(_SC_CLK_TCK);
    return (utime + stime) * 1000 / static_cast<std::uint64_t>(ticks);
}

std::string agent_process::log_path() const {
    return temp_dir_ + log_name;
}

std::string agent_process::previous_log_path() const {
    return temp_dir_ + "copy_" + log_name;
}

std::string agent_process::log_text() const {
    return read_file(log_path());
}

std::string agent_process::previous_log_text() const {
    return read_file(previous_log_path());
}

std::vector<std::string> agent_process::log_messages() const {
    std::vector<std::string> out;
    std::istringstream lines(log_text());
    std::string line;
    while (std::getline(lines, line)) {
        out.push_back(message_of_line(line));
    }
    return out;
}

bool agent_process::log_mentions(const std::string& fragment) const {
    for (const std::string& message : log_messages()) {
        if (message.find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::size_t agent_process::log_count(const std::string& message) const {
    const std::vector<std::string> all = log_messages();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), message));
}

bool agent_process::wait_for_log(const std::string& fragment, duration timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!log_mentions(fragment)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::string agent_process::terminal_output() const {
    return read_file(folder_ / terminal_name);
}

}  // namespace orvel::test
