#include "platform/file_ops.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "base/log_hub.h"
#include "platform/system_error.h"

namespace orvel::platform {

namespace fs = std::filesystem;

namespace {

bool is_missing_or_folder(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    return !fs::exists(status) || fs::is_directory(status);
}

std::string without_trailing_separator(std::string path) {
    if (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) {
        path.pop_back();
    }
    return path;
}

// Every entry below the folder, the folder not counted.
std::uintmax_t count_entries(const fs::path& folder) {
    std::uintmax_t count = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        ++count;
    }
    return count;
}

// Removes one entry; a folder only when it is empty.
bool remove_entry(const fs::path& entry) {
    std::error_code removed;
    fs::remove(entry, removed);
    if (!removed) {
        return true;
    }
    const std::error_code ec = as_system_error(removed);
    log(3, "remove failed with message %s (%s %d) for path %s", ec.message().c_str(),
        ec.category().name(), ec.value(), entry.string().c_str());
    if (is_held_by_another(ec)) {
        report_file_holders(entry.string());
    }
    return false;
}

// Contents before their folder, so that the first entry that will not go is the one that
// holds the tree, not a folder that is merely not empty yet.
bool remove_tree_entries(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(it->path());
    }
    for (const fs::path& entry : entries) {
        const fs::file_status status = fs::symlink_status(entry, ec);
        if (fs::is_directory(status) && !remove_tree_entries(entry)) {
            return false;
        }
        if (!remove_entry(entry)) {
            return false;
        }
    }
    return true;
}

// The old copy goes first and the new one is created exclusively, so a link planted at
// the destination is replaced, never written through.
void replace_with_copy(const fs::path& source, const fs::path& destination, std::error_code& ec) {
    std::error_code status_ec;
    const fs::file_status old_copy = fs::symlink_status(destination, status_ec);
    if (fs::exists(old_copy) && !fs::is_directory(old_copy)) {
        fs::remove(destination, ec);
    }
    if (!ec) {
        // Not the library's copy_file, which waits for the disk after every file.
        const int error = copy_into_new_file(source.string(), destination.string());
        if (error != 0) {
            ec.assign(error, std::system_category());
        }
    }
}

}  // namespace

std::string temp_file_path(const std::string& name) {
    return temp_dir() + name;
}

bool copy_folder_files(const std::string& source, const std::string& destination) {
    if (source.empty() || destination.empty()) {
        return true;
    }
    const bool ends_with_separator = source.back() == '/' || source.back() == path_separator();
    const std::string from = (ends_with_separator ? source : source + path_separator()) + "*";
    const std::string to = without_trailing_separator(destination);
    std::error_code ec;
    fs::create_directories(to, ec);
    if (!ec) {
        for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::file_status status = it->status(ec);
            if (ec) {
                break;
            }
            if (fs::is_regular_file(status)) {
                replace_with_copy(it->path(), fs::path(to) / it->path().filename(), ec);
                if (ec) {
                    break;
                }
            }
        }
    }
    if (ec) {
        log(3, "copy_folder_files FS_COPY %d %s %s", ec.value(), from.c_str(), to.c_str());
        return false;
    }
    return true;
}

bool copy_folder(const std::string& source, const std::string& destination) {
    if (source.empty() || destination.empty()) {
        return true;
    }
    const std::string from = without_trailing_separator(source);
    const fs::path to =
        fs::path(without_trailing_separator(destination)) / fs::path(from).filename();
    std::error_code ec;
    fs::create_directories(to, ec);
    fs::recursive_directory_iterator it;
    if (!ec) {
        it = fs::recursive_directory_iterator(from, ec);
    }
    for (fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        const fs::file_status status = it->symlink_status(ec);
        if (ec) {
            break;
        }
        // Below the source the entry's path is the source's text and its own part.
        const fs::path target = to / it->path().string().substr(from.size() + 1);
        if (fs::is_directory(status)) {
            fs::create_directories(target, ec);
        } else if (fs::is_regular_file(status)) {
            replace_with_copy(it->path(), target, ec);
        }
    }
    if (ec) {
        log(3, "copy_folder %s: %s %s", ec.message().c_str(), source.c_str(), destination.c_str());
        return false;
    }
    return true;
}

bool copy_file(const std::string& source, const std::string& destination) {
    if (source.empty() || destination.empty() || is_missing_or_folder(source)) {
        return true;
    }
    std::error_code ec;
    replace_with_copy(source, destination, ec);
    if (ec) {
        log(3, "copy_file copy_file %s: %s %s", ec.message().c_str(), source.c_str(),
            destination.c_str());
        return false;
    }
    return true;
}

bool rename_file(const std::string& source, const std::string& destination) {
    if (source.empty() || destination.empty() || source == destination ||
        is_missing_or_folder(source)) {
        return true;
    }
    std::error_code ec;
    fs::rename(source, destination, ec);
    if (ec) {
        log(3, "rename_file rename %s: %s %s", ec.message().c_str(), source.c_str(),
            destination.c_str());
        return false;
    }
    return true;
}

bool remove(const std::string& path) {
    if (path.empty()) {
        return true;
    }
    std::error_code ec;
    // A link is removed itself, whatever it points to.
    const fs::file_status status = fs::symlink_status(path, ec);
    if (!fs::exists(status) || fs::is_directory(status)) {
        return true;
    }
    fs::remove(path, ec);
    if (ec) {
        ec = as_system_error(ec);
        log(3, "remove failed with message %s (%s %d) for path %s.", ec.message().c_str(),
            ec.category().name(), ec.value(), path.c_str());
        return false;
    }
    return true;
}

bool remove_all(const std::string& path) {
    if (path.empty()) {
        return true;
    }
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(path, ec))) {
        return true;
    }
    const std::uintmax_t before = count_entries(path) + 1;
    fs::remove_all(path, ec);
    if (!ec) {
        return true;
    }
    ec = as_system_error(ec);
    // The library's own count is not reliable after a failure; what is left tells.
    std::error_code left_ec;
    const std::uintmax_t left =
        fs::exists(path, left_ec) ? count_entries(path) + 1 : std::uintmax_t{0};
    log(3, "remove_all failed with message %s (%s %d) for path %s. %u items removed.",
        ec.message().c_str(), ec.category().name(), ec.value(), path.c_str(),
        static_cast<unsigned>(before > left ? before - left : 0));
    return remove_tree_entries(path) && remove_entry(path);
}

void enum_subdirs(const std::function<void(const std::string&)>& callback,
                  const std::string& directory) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(directory, ec);
    if (ec) {
        log(4, "enum_subdirs: no subdirs were found in %s", directory.c_str());
        return;
    }
    for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code status_ec;
        if (fs::is_directory(it->status(status_ec))) {
            names.push_back(it->path().filename().string());
        }
    }
    for (const std::string& name : names) {
        callback(directory + name + path_separator());
    }
}

}  // namespace orvel::platform
