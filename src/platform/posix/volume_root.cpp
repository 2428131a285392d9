#include "platform/volume_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "base/log_hub.h"
#include "platform/system_error.h"

namespace orvel::platform {

struct volume_root::state {
    auto_fd root;
};

namespace {

const char* what_stands(mode_t mode) {
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    return S_ISREG(mode) ? "a file" : "something unknown";
}

enum class walk_end { reached, missing, refused, failed };

bool ends_with_separator(const std::string& relative) {
    return !relative.empty() && relative.back() == '/';
}

// A name's way from the root: the folder that holds its last part, opened one folder at a
// time from the root, each without following a link.
struct way {
    walk_end end = walk_end::failed;
    auto_fd folder;
    std::string leaf;  // the last part; empty when the name is the root
    std::string path;  // where the walk ended, for messages
};

way walk(int root, const std::string& root_path, const std::vector<std::string>& parts,
         std::size_t folders, bool create) {
    way result;
    result.path = root_path;
    if (root < 0) {
        // A volume that did not open holds nothing.
        errno = ENOENT;
        result.end = walk_end::missing;
        return result;
    }
    result.folder.reset(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!result.folder.valid()) {
        return result;
    }
    for (std::size_t i = 0; i < folders; ++i) {
        const char* name = parts[i].c_str();
        result.path += parts[i];
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        auto_fd next(::openat(result.folder.get(), name, flags));
        if (!next.valid() && errno == ENOENT && create) {
            if (::mkdirat(result.folder.get(), name, 0777) != 0 && errno != EEXIST) {
                return result;
            }
            next.reset(::openat(result.folder.get(), name, flags));
        }
        if (!next.valid()) {
            struct stat info {};
            if (errno == ENOENT) {
                result.end = walk_end::missing;
            } else if ((errno == ELOOP || errno == ENOTDIR) &&
                       ::fstatat(result.folder.get(), name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
                log_refusal(result.path, what_stands(info.st_mode), "a folder");
                errno = EPERM;
                result.end = walk_end::refused;
            }
            return result;
        }
        result.folder = std::move(next);
        result.path += '/';
    }
    if (folders < parts.size()) {
        result.leaf = parts[folders];
        result.path += result.leaf;
    }
    result.end = walk_end::reached;
    return result;
}

// The way to the folder that holds the name's last part.
way walk_to_parent(int root, const std::string& root_path, const std::string& relative) {
    std::vector<std::string> parts;
    if (!split_relative(root_path, relative, parts)) {
        way refused;
        refused.end = walk_end::refused;
        errno = EPERM;
        return refused;
    }
    return walk(root, root_path, parts, parts.empty() ? 0 : parts.size() - 1, false);
}

}  // namespace

volume_root::volume_root() : state_(std::make_unique<state>()) {}

volume_root::volume_root(const std::string& root) : volume_root() {
    open(root);
}

volume_root::~volume_root() = default;

bool volume_root::open(const std::string& root) {
    close();
    // The root may be reached through links: it is where the system put the volume.
    state_->root.reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!state_->root.valid()) {
        log(3, "Can't open the volume %s: %s", root.c_str(), error_text(errno).c_str());
        return false;
    }
    root_ = root;
    if (root_.empty() || root_.back() != '/') {
        root_ += '/';
    }
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
    const way found = walk_to_parent(state_->root.get(), root_, relative);
    if (found.end == walk_end::missing) {
        return result;
    }
    if (found.end != walk_end::reached) {
        if (found.end == walk_end::failed) {
            log(3, "Can't reach %s: %s", found.path.c_str(), error_text(errno).c_str());
        }
        result.kind = entry_kind::other;
        return result;
    }
    if (found.leaf.empty()) {
        result.kind = entry_kind::folder;
        return result;
    }
    struct stat info {};
    if (::fstatat(found.folder.get(), found.leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            log(3, "Can't reach %s: %s", found.path.c_str(), error_text(errno).c_str());
            result.kind = entry_kind::other;
        }
        return result;
    }
    if (S_ISREG(info.st_mode)) {
        result.kind = entry_kind::file;
        result.size = static_cast<std::uint64_t>(info.st_size);
    } else if (S_ISDIR(info.st_mode)) {
        result.kind = entry_kind::folder;
    } else {
        log_refusal(found.path, what_stands(info.st_mode),
                    ends_with_separator(relative) ? "a folder" : "a regular file");
        result.kind = entry_kind::other;
    }
    return result;
}

auto_fd volume_root::open_file(const std::string& relative, file_access access) const {
    const way found = walk_to_parent(state_->root.get(), root_, relative);
    if (found.end != walk_end::reached) {
        return auto_fd();
    }
    if (found.leaf.empty()) {
        errno = EISDIR;
        return auto_fd();
    }
    const char* leaf = found.leaf.c_str();
    // Refused before it is opened, so that a device is never opened at all; what stands
    // there once it is open is looked at again below.
    const auto refuse_what_stands = [&]() {
        const int error = errno;
        struct stat info {};
        if (::fstatat(found.folder.get(), leaf, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISREG(info.st_mode)) {
            if (S_ISDIR(info.st_mode)) {
                errno = EISDIR;
            } else {
                log_refusal(found.path, what_stands(info.st_mode), "a regular file");
                errno = EPERM;
            }
            return true;
        }
        errno = error;
        return false;
    };
    if (refuse_what_stands()) {
        return auto_fd();
    }
    // Non-blocking, so that a FIFO put there meanwhile does not wait for a writer.
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    flags |= access == file_access::read ? O_RDONLY : O_RDWR;
    if (access == file_access::create) {
        flags |= O_CREAT;
    } else if (access == file_access::create_new) {
        flags |= O_CREAT | O_EXCL;
    }
    auto_fd file(::openat(found.folder.get(), leaf, flags, 0600));
    if (!file.valid()) {
        refuse_what_stands();
        return file;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        return auto_fd();
    }
    if (!S_ISREG(info.st_mode)) {
        log_refusal(found.path, what_stands(info.st_mode), "a regular file");
        file.reset();
        errno = EPERM;
        return file;
    }
    const int status = ::fcntl(file.get(), F_GETFL);
    if (status < 0 || ::fcntl(file.get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
        return auto_fd();
    }
    return file;
}

bool volume_root::create_folders(const std::string& relative) const {
    std::vector<std::string> parts;
    if (!split_relative(root_, relative, parts)) {
        return false;
    }
    const std::size_t folders =
        ends_with_separator(relative) || parts.empty() ? parts.size() : parts.size() - 1;
    const way found = walk(state_->root.get(), root_, parts, folders, true);
    if (found.end == walk_end::failed || found.end == walk_end::missing) {
        log(3, "Failed to create dir (%d): %s", errno, found.path.c_str());
    }
    return found.end == walk_end::reached;
}

bool volume_root::remove_file(const std::string& relative) const {
    const way found = walk_to_parent(state_->root.get(), root_, relative);
    if (found.end == walk_end::missing || (found.end == walk_end::reached && found.leaf.empty())) {
        return true;
    }
    if (found.end == walk_end::reached &&
        (::unlinkat(found.folder.get(), found.leaf.c_str(), 0) == 0 || errno == ENOENT ||
         errno == EISDIR)) {
        return true;
    }
    if (found.end != walk_end::refused) {
        const std::error_code ec(errno, std::system_category());
        log(3, "remove failed with message %s (%s %d) for path %s.", ec.message().c_str(),
            ec.category().name(), ec.value(), path_of(relative).c_str());
    }
    return false;
}

bool volume_root::replace_file(const std::string& from, const std::string& to) const {
    const way source = walk_to_parent(state_->root.get(), root_, from);
    const way target = walk_to_parent(state_->root.get(), root_, to);
    if (source.end == walk_end::reached && target.end == walk_end::reached &&
        !source.leaf.empty() && !target.leaf.empty() &&
        ::renameat(source.folder.get(), source.leaf.c_str(), target.folder.get(),
                   target.leaf.c_str()) == 0) {
        return true;
    }
    log(3, "rename_file rename %s: %s %s", error_text(errno).c_str(), path_of(from).c_str(),
        path_of(to).c_str());
    return false;
}

bool volume_root::copy_in(const std::string& source, const std::string& relative) const {
    auto_fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    auto_fd out;
    bool copied = in.valid() && ::fstat(in.get(), &info) == 0;
    if (copied) {
        out = open_file(relative, file_access::create_new);
        copied = out.valid();
    }
    // In the kernel, from the source's pages to the unit's.
    constexpr off_t widest_step = 1 << 30;
    for (off_t left = info.st_size; copied && left > 0;) {
        const ssize_t sent = ::sendfile(out.get(), in.get(), nullptr,
                                        static_cast<std::size_t>(std::min(left, widest_step)));
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        copied = sent > 0;
        if (sent == 0) {
            errno = EIO;  // the source got shorter meanwhile
        }
        left -= std::max<ssize_t>(sent, 0);
    }
    // Some file systems report a failed write only when the file is closed.
    copied = copied && ::close(out.release()) == 0;
    if (!copied) {
        log(3, "copy_file copy_file %s: %s %s", error_text(errno).c_str(), source.c_str(),
            path_of(relative).c_str());
    }
    return copied;
}

bool volume_root::sync() const {
    if (::syncfs(state_->root.get()) != 0) {
        log_system_error("syncfs");
        return false;
    }
    return true;
}

bool volume_root::list_folder(const std::string& relative,
                              std::vector<volume_entry>& entries) const {
    entries.clear();
    std::vector<std::string> parts;
    if (!split_relative(root_, relative, parts)) {
        return false;
    }
    const way found = walk(state_->root.get(), root_, parts, parts.size(), false);
    if (found.end != walk_end::reached) {
        return false;
    }
    auto_fd listed(::fcntl(found.folder.get(), F_DUPFD_CLOEXEC, 0));
    DIR* folder = listed.valid() ? ::fdopendir(listed.get()) : nullptr;
    if (folder == nullptr) {
        return false;
    }
    listed.release();  // the listing owns it now
    const std::unique_ptr<DIR, int (*)(DIR*)> owned(folder, ::closedir);
    while (const dirent* item = ::readdir(folder)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        volume_entry entry;
        entry.name = name;
        struct stat info {};
        if (::fstatat(found.folder.get(), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;  // gone meanwhile
        }
        if (S_ISREG(info.st_mode)) {
            entry.kind = entry_kind::file;
            entry.size = static_cast<std::uint64_t>(info.st_size);
        } else {
            entry.kind = S_ISDIR(info.st_mode) ? entry_kind::folder : entry_kind::other;
        }
        entries.push_back(entry);
    }
    return true;
}

std::uint64_t volume_root::free_space() const {
    struct statvfs info {};
    if (::fstatvfs(state_->root.get(), &info) != 0) {
        log_system_error("get_free_space failed");
        return std::numeric_limits<std::uint64_t>::max();
    }
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::uint64_t volume_root::allocation_unit() const {
    struct statvfs info {};
    if (::fstatvfs(state_->root.get(), &info) != 0 || info.f_frsize == 0) {
        return 1;
    }
    return info.f_frsize;
}

}  // namespace orvel::platform
