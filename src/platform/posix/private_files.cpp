#include "platform/private_files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/auto_fd.h"
#include "platform/system_error.h"

namespace orvel::platform {

namespace {

std::string without_separator(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string home_dir() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

// What is wrong with what lstat found at the path, for a folder or a regular file.
std::string kind_problem(const std::string& path, const struct stat& info, bool folder) {
    if (S_ISLNK(info.st_mode)) {
        return path + " is a symbolic link";
    }
    if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) {
        return path + (folder ? " is not a folder" : " is not a regular file");
    }
    if (info.st_uid != ::geteuid()) {
        return path + " belongs to another user (" + std::to_string(info.st_uid) + ")";
    }
    return {};
}

}  // namespace

std::string member_config_dir() {
    // Relative values are to be ignored, as the base directory rules say.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return without_separator(config) + "/orvelsync/";
    }
    const std::string home = home_dir();
    return home.empty() ? std::string() : without_separator(home) + "/.config/orvelsync/";
}

bool prepare_private_dir(const std::string& folder, bool with_parents, std::string& problem) {
    const std::string path = without_separator(folder);
    if (with_parents) {
        // The folders above are the user's ordinary ones (~/.config): only the missing
        // ones are made, private as the base directory rules want them.
        for (std::size_t at = path.find('/', 1); at != std::string::npos;
             at = path.find('/', at + 1)) {
            ::mkdir(path.substr(0, at).c_str(), 0700);
        }
    }
    if (::mkdir(path.c_str(), 0700) == 0) {
        return true;
    }
    if (errno != EEXIST) {
        problem = "cannot create " + path + ": " + error_text(errno);
        return false;
    }
    // In a shared folder another user may have put something at the name first.
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        problem = "cannot examine " + path + ": " + error_text(errno);
        return false;
    }
    problem = kind_problem(path, info, true);
    if (!problem.empty()) {
        return false;
    }
    if ((info.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        problem = "cannot make " + path + " private: " + error_text(errno);
        return false;
    }
    return true;
}

std::string own_file_problem(const std::string& path, bool secret) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return "cannot examine " + path + ": " + error_text(errno);
    }
    std::string problem = kind_problem(path, info, false);
    if (problem.empty() && secret && (info.st_mode & 077) != 0 &&
        ::chmod(path.c_str(), 0600) != 0) {
        problem = "cannot make " + path + " private: " + error_text(errno);
    }
    return problem;
}

std::string own_file_problem(std::FILE* file) {
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0) {
        return "cannot examine the open file: " + error_text(errno);
    }
    return kind_problem("the file", info, false);
}

bool replace_file(const std::string& path, const std::string& content, bool secret,
                  std::string& problem) {
    const std::string fresh = path + ".new";
    const auto fail = [&](const std::string& step) {
        problem = "cannot " + step + " " + fresh + ": " + error_text(errno);
        ::unlink(fresh.c_str());
        return false;
    };
    // A leftover of an interrupted run, or something planted at the name: never written
    // through, only replaced.
    ::unlink(fresh.c_str());
    auto_fd out(::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       secret ? 0600 : 0644));
    if (!out.valid()) {
        return fail("create");
    }
    for (std::size_t done = 0; done < content.size();) {
        const ssize_t written = ::write(out.get(), content.data() + done, content.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return fail("write");
        }
        done += static_cast<std::size_t>(written);
    }
    // On disk before the rename makes it the file, so a power cut leaves the old or the new.
    if (::fsync(out.get()) != 0 || ::close(out.release()) != 0) {
        return fail("write");
    }
    if (::rename(fresh.c_str(), path.c_str()) != 0) {
        return fail("rename");
    }
    return true;
}

}  // namespace orvel::platform
