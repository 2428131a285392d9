#include "platform/volume_root.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "base/log_hub.h"
#include "platform/system_error.h"
#include "platform/win32/file_checks.h"
#include "platform/win32/handles.h"

namespace orvel::platform {

struct volume_root::state {
    auto_handle root;
};

namespace {

enum class walk_end { reached, missing, refused, failed };

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

// Held open without sharing deletion, a folder can be neither renamed nor replaced (by a
// junction, say) until it is let go; the link itself is opened, never followed.
HANDLE open_entry(const std::string& path, DWORD access, DWORD disposition, DWORD share) {
    return ::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// What the open handle is, as a refusal names it; null for a regular file.
const char* what_is_not_a_file(HANDLE handle) {
    const DWORD type = ::GetFileType(handle);
    if (type == FILE_TYPE_PIPE) {
        return "a pipe";
    }
    if (type != FILE_TYPE_DISK) {
        return "a device";
    }
    if (is_link(handle)) {
        return "a symbolic link or junction";
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(handle, &info) != FALSE &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return "a folder";
    }
    return nullptr;
}

// The names the system takes for its devices in every folder ("CON", "COM1.TXT"...).
bool is_device_name(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') {
        stem.pop_back();
    }
    for (char& c : stem) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
        stem == "CONOUT$") {
        return true;
    }
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '0' && stem[3] <= '9';
}

// A name's way from the root: every folder on it held open (see open_entry) while the name
// is used, each checked to be a folder and not a link.
struct way {
    walk_end end = walk_end::failed;
    std::vector<auto_handle> folders;
    std::string folder;  // the last folder's path, ending with "\\"
    std::string leaf;    // the last part; empty when the name is the root
    std::string path;    // where the walk ended, for messages
};

way walk(const std::string& root, const std::vector<std::string>& parts, std::size_t folders,
         bool create) {
    way result;
    result.folder = root;
    result.path = root;
    if (root.empty()) {
        // A volume that did not open holds nothing; its names must not be taken from the
        // working directory.
        errno = ENOENT;
        result.end = walk_end::missing;
        return result;
    }
    for (std::size_t i = 0; i < folders; ++i) {
        result.path = result.folder + parts[i];
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        auto_handle next(open_entry(result.path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, share));
        DWORD error = next.valid() ? ERROR_SUCCESS : ::GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        if (missing && create) {
            if (::CreateDirectoryA(result.path.c_str(), nullptr) == FALSE &&
                ::GetLastError() != ERROR_ALREADY_EXISTS) {
                errno = errno_of(::GetLastError());
                return result;
            }
            next.reset(open_entry(result.path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, share));
            error = next.valid() ? ERROR_SUCCESS : ::GetLastError();
        }
        if (!next.valid()) {
            errno = errno_of(error);
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
                result.end = walk_end::missing;
            }
            return result;
        }
        const char* what = what_is_not_a_file(next.get());
        if (what == nullptr || std::strcmp(what, "a folder") != 0) {
            log_refusal(result.path, what == nullptr ? "a file" : what, "a folder");
            errno = EPERM;
            result.end = walk_end::refused;
            return result;
        }
        result.folders.push_back(std::move(next));
        result.folder = result.path + "\\";
    }
    if (folders < parts.size()) {
        result.leaf = parts[folders];
        result.path = result.folder + result.leaf;
    }
    result.end = walk_end::reached;
    return result;
}

way walk_to_parent(const std::string& root, const std::string& relative) {
    std::vector<std::string> parts;
    if (!split_relative(root, relative, parts)) {
        way refused;
        refused.end = walk_end::refused;
        errno = EPERM;
        return refused;
    }
    return walk(root, parts, parts.empty() ? 0 : parts.size() - 1, false);
}

bool refuse_device_name(const way& found) {
    if (!is_device_name(found.leaf)) {
        return false;
    }
    log_refusal(found.path, "a device's name", "a regular file");
    errno = EPERM;
    return true;
}

}  // namespace

volume_root::volume_root() : state_(std::make_unique<state>()) {}

volume_root::volume_root(const std::string& root) : volume_root() {
    open(root);
}

volume_root::~volume_root() = default;

bool volume_root::open(const std::string& root) {
    close();
    std::string path = root;
    if (path.empty() || !is_separator(path.back())) {
        path += '\\';
    }
    // The root may be reached through links: it is where the system put the volume.
    state_->root.reset(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!state_->root.valid()) {
        log(3, "Can't open the volume %s: %s", root.c_str(), error_text(last_error()).c_str());
        return false;
    }
    root_ = path;
    return true;
}

void volume_root::close() {
    state_->root.reset();
    root_.clear();
}

bool volume_root::is_open() const {
    return state_->root.valid();
}

volume_entry volume_root::entry(const std::string& relative) const {
    volume_entry result;
    const way found = walk_to_parent(root_, relative);
    if (found.end == walk_end::missing) {
        return result;
    }
    if (found.end != walk_end::reached) {
        if (found.end == walk_end::failed) {
            log(3, "Can't reach %s: %s", found.path.c_str(), error_text(last_error()).c_str());
        }
        result.kind = entry_kind::other;
        return result;
    }
    if (found.leaf.empty()) {
        result.kind = entry_kind::folder;
        return result;
    }
    if (refuse_device_name(found)) {
        result.kind = entry_kind::other;
        return result;
    }
    const auto_handle handle(open_entry(found.path, FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    if (!handle.valid()) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            log(3, "Can't reach %s: %s", found.path.c_str(),
                error_text(static_cast<int>(error)).c_str());
            result.kind = entry_kind::other;
        }
        return result;
    }
    const char* what = what_is_not_a_file(handle.get());
    if (what == nullptr) {
        LARGE_INTEGER size{};
        result.kind = entry_kind::file;
        result.size = ::GetFileSizeEx(handle.get(), &size) != FALSE
                          ? static_cast<std::uint64_t>(size.QuadPart)
                          : 0;
    } else if (std::strcmp(what, "a folder") == 0) {
        result.kind = entry_kind::folder;
    } else {
        const bool folder = !relative.empty() && is_separator(relative.back());
        log_refusal(found.path, what, folder ? "a folder" : "a regular file");
        result.kind = entry_kind::other;
    }
    return result;
}

auto_fd volume_root::open_file(const std::string& relative, file_access access) const {
    const way found = walk_to_parent(root_, relative);
    if (found.end != walk_end::reached) {
        return auto_fd();
    }
    if (found.leaf.empty()) {
        errno = EISDIR;
        return auto_fd();
    }
    if (refuse_device_name(found)) {
        return auto_fd();
    }
    const DWORD rights = access == file_access::read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    if (access == file_access::create) {
        disposition = OPEN_ALWAYS;
    } else if (access == file_access::create_new) {
        disposition = CREATE_NEW;
    }
    // Others may read but not write, as with the runtime's deny-write share mode.
    auto_handle file(::CreateFileA(found.path.c_str(), rights, FILE_SHARE_READ, nullptr,
                                   disposition,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        errno = errno_of(::GetLastError());
        return auto_fd();
    }
    if (const char* what = what_is_not_a_file(file.get())) {
        if (std::strcmp(what, "a folder") == 0) {
            errno = EISDIR;
        } else {
            log_refusal(found.path, what, "a regular file");
            errno = EPERM;
        }
        return auto_fd();
    }
    const int flags = _O_BINARY | (access == file_access::read ? _O_RDONLY : 0);
    auto_fd fd(::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), flags));
    if (fd.valid()) {
        file.release();  // the descriptor owns it now
    }
    return fd;
}

bool volume_root::create_folders(const std::string& relative) const {
    std::vector<std::string> parts;
    if (!split_relative(root_, relative, parts)) {
        return false;
    }
    const bool folder = !relative.empty() && is_separator(relative.back());
    const way found =
        walk(root_, parts, folder || parts.empty() ? parts.size() : parts.size() - 1, true);
    if (found.end == walk_end::failed || found.end == walk_end::missing) {
        log(3, "Failed to create dir (%d): %s", static_cast<int>(::GetLastError()),
            found.path.c_str());
    }
    return found.end == walk_end::reached;
}

bool volume_root::remove_file(const std::string& relative) const {
    const way found = walk_to_parent(root_, relative);
    if (found.end == walk_end::missing || (found.end == walk_end::reached && found.leaf.empty())) {
        return true;
    }
    if (found.end == walk_end::refused) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesA(found.path.c_str());
    if (found.end == walk_end::reached && (attributes == INVALID_FILE_ATTRIBUTES ||
                                           ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) ||
                                           ::DeleteFileA(found.path.c_str()) != FALSE)) {
        return true;
    }
    const int error = last_error();
    log(3, "remove failed with message %s (%s %d) for path %s.", error_text(error).c_str(),
        "system", error, path_of(relative).c_str());
    return false;
}

bool volume_root::replace_file(const std::string& from, const std::string& to) const {
    const way source = walk_to_parent(root_, from);
    const way target = walk_to_parent(root_, to);
    if (source.end == walk_end::reached && target.end == walk_end::reached &&
        !source.leaf.empty() && !target.leaf.empty() &&
        ::MoveFileExA(source.path.c_str(), target.path.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE) {
        return true;
    }
    log(3, "rename_file rename %s: %s %s", error_text(last_error()).c_str(), path_of(from).c_str(),
        path_of(to).c_str());
    return false;
}

bool volume_root::copy_in(const std::string& source, const std::string& relative) const {
    const auto_handle in(::CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    std::string failure;
    auto_fd out;
    if (!in.valid()) {
        failure = error_text(last_error());
    } else {
        out = open_file(relative, file_access::create_new);
        if (!out.valid()) {
            failure = runtime_error_text(errno);
        }
    }
    if (out.valid()) {
        const HANDLE target = reinterpret_cast<HANDLE>(::_get_osfhandle(out.get()));
        std::vector<char> buffer(1 << 16);
        for (;;) {
            DWORD read = 0;
            DWORD written = 0;
            if (::ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read,
                           nullptr) == FALSE ||
                (read > 0 &&
                 (::WriteFile(target, buffer.data(), read, &written, nullptr) == FALSE ||
                  written != read))) {
                failure = error_text(last_error());
                break;
            }
            if (read == 0) {
                // On the unit's disk before it can take an old file's place (see sync).
                if (::FlushFileBuffers(target) == FALSE) {
                    failure = error_text(last_error());
                }
                break;
            }
        }
    }
    if (!failure.empty() || !out.valid()) {
        log(3, "copy_file copy_file %s: %s %s", failure.c_str(), source.c_str(),
            path_of(relative).c_str());
        return false;
    }
    return true;
}

// copy_in flushed every file it wrote already: flushing the whole volume takes an
// administrator, one file does not, and removable disks write through by default anyway.
bool volume_root::sync() const {
    return true;
}

bool volume_root::list_folder(const std::string& relative,
                              std::vector<volume_entry>& entries) const {
    entries.clear();
    std::vector<std::string> parts;
    if (!split_relative(root_, relative, parts)) {
        return false;
    }
    const way found = walk(root_, parts, parts.size(), false);
    if (found.end != walk_end::reached) {
        return false;
    }
    WIN32_FIND_DATAA data{};
    const HANDLE search = ::FindFirstFileA((found.folder + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        volume_entry entry;
        entry.name = name;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
            IsReparseTagNameSurrogate(data.dwReserved0)) {
            entry.kind = entry_kind::other;
        } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            entry.kind = entry_kind::folder;
        } else {
            entry.kind = entry_kind::file;
            entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
        entries.push_back(entry);
    } while (::FindNextFileA(search, &data) != FALSE);
    ::FindClose(search);
    return true;
}

std::uint64_t volume_root::free_space() const {
    ULARGE_INTEGER available{};
    if (::GetDiskFreeSpaceExA(root_.c_str(), &available, nullptr, nullptr) == FALSE) {
        log_system_error("get_free_space failed");
        return std::numeric_limits<std::uint64_t>::max();
    }
    return available.QuadPart;
}

std::uint64_t volume_root::allocation_unit() const {
    char volume[MAX_PATH + 1] = {};
    DWORD sectors_per_cluster = 0;
    DWORD bytes_per_sector = 0;
    DWORD free_clusters = 0;
    DWORD clusters = 0;
    if (::GetVolumePathNameA(root_.c_str(), volume, sizeof volume) == FALSE ||
        ::GetDiskFreeSpaceA(volume, &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                            &clusters) == FALSE ||
        sectors_per_cluster == 0 || bytes_per_sector == 0) {
        return 1;
    }
    return std::uint64_t{sectors_per_cluster} * bytes_per_sector;
}

}  // namespace orvel::platform
