#include <sys/stat.h>

#include <boost/filesystem/operations.hpp>
#include <cctype>
#include <fstream>
#include <sstream>

#include "base/log_hub.h"
#include "platform/file_ops.h"
#include "platform/system_error.h"

namespace orvel::platform {

namespace fs = boost::filesystem;

namespace {

bool is_pid(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

// The process's start time in clock ticks since boot (the 22nd field of its stat line);
// 0 when it is gone. Together with the pid it names one process, not a later one that was
// given the same pid.
std::uint64_t start_time(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(in, line)) {
        return 0;
    }
    // The command name in parentheses may hold blanks and parentheses itself.
    const std::size_t name_end = line.rfind(')');
    if (name_end == std::string::npos) {
        return 0;
    }
    std::istringstream fields(line.substr(name_end + 1));
    std::string field;
    for (int number = 3; number < 22 && fields >> field; ++number) {
    }
    std::uint64_t ticks = 0;
    fields >> ticks;
    return fields ? ticks : 0;
}

bool holds_open(const std::string& pid, const struct stat& target) {
    boost::system::error_code ec;
    for (fs::directory_iterator it("/proc/" + pid + "/fd", ec), end; !ec && it != end;
         it.increment(ec)) {
        struct stat opened {};
        if (::stat(it->path().c_str(), &opened) == 0 && opened.st_dev == target.st_dev &&
            opened.st_ino == target.st_ino) {
            return true;
        }
    }
    return false;
}

}  // namespace

void report_file_holders(const std::string& path) {
    log(6, "Sharing violations for %s", path.c_str());
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) {
        log_system_error("stat");
        return;
    }
    boost::system::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (!is_pid(pid)) {
            continue;
        }
        const std::uint64_t started = start_time(pid);
        if (started == 0 || !holds_open(pid, target)) {
            continue;
        }
        boost::system::error_code link_ec;
        const fs::path executable = fs::read_symlink("/proc/" + pid + "/exe", link_ec);
        if (!link_ec && start_time(pid) == started) {
            log(6, "Process %s", executable.string().c_str());
        }
    }
}

}  // namespace orvel::platform
