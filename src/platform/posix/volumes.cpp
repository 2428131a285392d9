#include "platform/volumes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "base/log_hub.h"
#include "platform/auto_fd.h"
#include "platform/posix/udisks_eject.h"
#include "platform/system_error.h"

namespace orvel::platform {

namespace fs = boost::filesystem;

namespace {

std::string with_slash(std::string root) {
    if (root.empty() || root.back() != '/') {
        root += '/';
    }
    return root;
}

std::vector<std::string> simulated_roots(const std::string& list) {
    std::vector<std::string> roots;
    std::istringstream pieces(list);
    std::string piece;
    while (std::getline(pieces, piece, ':')) {
        if (!piece.empty()) {
            roots.push_back(with_slash(piece));
        }
    }
    return roots;
}

bool is_octal(char c) {
    return c >= '0' && c <= '7';
}

// Mount points escape blanks, tabs, newlines and backslashes as octal "\ooo".
std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 3 < text.size() && is_octal(text[at + 1]) &&
            is_octal(text[at + 2]) && is_octal(text[at + 3])) {
            out += static_cast<char>(std::stoi(text.substr(at + 1, 3), nullptr, 8));
            at += 3;
        } else {
            out += text[at];
        }
    }
    return out;
}

struct mount_entry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;
    std::string mount_point;
};

std::vector<mount_entry> read_mountinfo(const std::string& path) {
    std::vector<mount_entry> mounts;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        // "<id> <parent> <major>:<minor> <root> <mount point> <options> ..."
        std::istringstream fields(line);
        std::string id, parent, device, root, mount_point;
        if (!(fields >> id >> parent >> device >> root >> mount_point)) {
            continue;
        }
        mount_entry entry;
        char colon = 0;
        std::istringstream numbers(device);
        if (!(numbers >> entry.major >> colon >> entry.minor) || colon != ':') {
            continue;
        }
        entry.root = unescaped(root);
        entry.mount_point = unescaped(mount_point);
        mounts.push_back(entry);
    }
    return mounts;
}

std::string first_line(const fs::path& file) {
    std::ifstream in(file.string());
    std::string line;
    std::getline(in, line);
    return line;
}

struct disk_entry {
    std::string name;
    fs::path device;     // the disk's folder below the sysfs devices
    std::string number;  // "<major>:<minor>"
};

// The disk that a block device belongs to: the device itself, or the parent of a partition.
bool find_disk(const std::string& sysfs, unsigned major, unsigned minor, disk_entry& disk,
               boost::system::error_code& ec) {
    const fs::path link =
        fs::path(sysfs) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
    fs::path device = fs::canonical(link, ec);
    if (ec) {
        return false;
    }
    boost::system::error_code partition_ec;
    if (fs::exists(device / "partition", partition_ec)) {
        device = device.parent_path();
    }
    disk.device = device;
    disk.name = device.filename().string();
    disk.number = first_line(device / "dev");
    return true;
}

bool runs_through_usb(const std::string& sysfs, const fs::path& device) {
    boost::system::error_code ec;
    const fs::path base = fs::canonical(sysfs, ec);
    if (ec) {
        return false;
    }
    // Only the part below the sysfs root counts, wherever the tree lies.
    const fs::path inside = device.lexically_relative(base);
    for (const fs::path& part : inside) {
        const std::string name = part.string();
        if (name.size() > 3 && name.compare(0, 3, "usb") == 0 &&
            name.find_first_not_of("0123456789", 3) == std::string::npos) {
            return true;
        }
    }
    return false;
}

bool is_removable(const std::string& sysfs, const disk_entry& disk) {
    return first_line(disk.device / "removable") == "1" || runs_through_usb(sysfs, disk.device);
}

bool parse_number(const std::string& text, std::uint64_t& number) {
    unsigned major = 0;
    unsigned minor = 0;
    char colon = 0;
    std::istringstream in(text);
    if (!(in >> major >> colon >> minor) || colon != ':') {
        return false;
    }
    number = makedev(major, minor);
    return true;
}

bool find_volume_disk(const std::string& root, const std::string& sysfs, disk_entry& disk) {
    const std::int64_t number = volume_device_number(root);
    if (number < 0) {
        return false;
    }
    const auto device = static_cast<dev_t>(number);
    boost::system::error_code ec;
    if (!find_disk(sysfs, major(device), minor(device), disk, ec)) {
        const std::string what =
            "find_disk " + std::to_string(major(device)) + ":" + std::to_string(minor(device));
        log_system_error(what.c_str(), ec.value());
        return false;
    }
    return true;
}

// A folder attached as a volume has no drive to power off; its data is flushed.
bool flush_simulated(const std::string& root) {
    auto_fd folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) {
        log_system_error("open");
        return false;
    }
    if (::syncfs(folder.get()) != 0) {
        log_system_error("syncfs");
        return false;
    }
    return true;
}

}  // namespace

volume_sources default_volume_sources() {
    volume_sources sources;
    const char* simulated = std::getenv("ORVELSYNC_VOLUMES");
    sources.simulated = simulated != nullptr ? simulated : "";
    return sources;
}

std::vector<std::string> removable_volumes(const volume_sources& sources) {
    std::vector<std::string> roots = simulated_roots(sources.simulated);
    std::vector<std::string> mounted;
    std::set<std::pair<unsigned, unsigned>> seen;
    for (const mount_entry& mount : read_mountinfo(sources.mountinfo)) {
        // A bind mount of a folder inside a volume is not the volume's root.
        if (mount.root != "/" || mount.major == 0 || seen.count({mount.major, mount.minor}) > 0) {
            continue;
        }
        disk_entry disk;
        boost::system::error_code ec;
        if (find_disk(sources.sysfs, mount.major, mount.minor, disk, ec) &&
            is_removable(sources.sysfs, disk)) {
            seen.insert({mount.major, mount.minor});
            mounted.push_back(with_slash(mount.mount_point));
        }
    }
    std::sort(mounted.begin(), mounted.end());
    roots.insert(roots.end(), mounted.begin(), mounted.end());
    return roots;
}

std::vector<std::string> removable_volumes() {
    return removable_volumes(default_volume_sources());
}

std::int64_t volume_device_number(const std::string& root) {
    struct stat info {};
    if (::stat(root.c_str(), &info) != 0) {
        log_system_error("stat");
        return -1;
    }
    return static_cast<std::int64_t>(info.st_dev);
}

std::string disk_device_instance(const std::string& root, const volume_sources& sources) {
    disk_entry disk;
    return find_volume_disk(root, sources.sysfs, disk) ? disk.name : std::string();
}

std::string disk_device_instance(const std::string& root) {
    return disk_device_instance(root, default_volume_sources());
}

bool eject_volume(const std::string& root, const volume_sources& sources) {
    const std::vector<std::string> simulated = simulated_roots(sources.simulated);
    if (std::find(simulated.begin(), simulated.end(), with_slash(root)) != simulated.end()) {
        return flush_simulated(root);
    }
    disk_entry disk;
    if (!find_volume_disk(root, sources.sysfs, disk)) {
        return false;
    }
    std::uint64_t disk_number = 0;
    if (!parse_number(disk.number, disk_number)) {
        log(3, "No device number for disk %s", disk.name.c_str());
        return false;
    }
    // The service may still be busy with the volume just after the last file was closed.
    constexpr int tries = 3;
    constexpr auto pause = std::chrono::milliseconds(500);
    eject_refusal refusal;
    for (int attempt = 1; attempt <= tries; ++attempt) {
        refusal = eject_refusal{};
        if (request_disk_eject(disk_number, refusal)) {
            return true;
        }
        if (attempt < tries) {
            std::this_thread::sleep_for(pause);
        }
    }
    log(3, "CM_Request_Device_Eject failed: %u %u %s", static_cast<unsigned>(refusal.error),
        refusal.step, refusal.name.c_str());
    return false;
}

bool eject_volume(const std::string& root) {
    return eject_volume(root, default_volume_sources());
}

}  // namespace orvel::platform
