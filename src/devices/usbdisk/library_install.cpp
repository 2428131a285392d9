#include "devices/usbdisk/library_install.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include "base/failures.h"
#include "base/log_hub.h"
#include "devices/usbdisk/staged_file.h"
#include "platform/stdio_file.h"

namespace orvel {

namespace {

// Files copied beside their targets before the unit's disk is waited for once and they are
// renamed together: a wait for every file would cost a package of thousands more than its
// copying does.
constexpr std::size_t batch_files = 256;

// Space in the file system's units, which a file takes whole.
class space_units {
public:
    explicit space_units(std::uint64_t unit) : unit_(std::max<std::uint64_t>(unit, 1)) {}
    std::int64_t of(std::uint64_t size) const {
        return static_cast<std::int64_t>((size / unit_ + (size % unit_ != 0 ? 1 : 0)) * unit_);
    }

private:
    std::uint64_t unit_;
};

// What the unit must hold at once: a new file with the old one it replaces, together with
// what the files before it added or gave back.
class space_plan {
public:
    explicit space_plan(const space_units& units) : units_(units) {}

    void replace(std::uint64_t old_size, std::uint64_t new_size) {
        peak_ = std::max(peak_, in_use_ + units_.of(new_size));
        in_use_ += units_.of(new_size) - units_.of(old_size);
    }
    // A new folder takes a unit on FAT.
    void new_folder() { folders_ += units_.of(1); }

    std::int64_t folders() const { return folders_; }
    std::uint64_t needed() const { return static_cast<std::uint64_t>(peak_ + folders_); }

private:
    const space_units& units_;
    std::int64_t in_use_ = 0;  // beyond what the unit holds now; less when files shrank
    std::int64_t peak_ = 0;
    std::int64_t folders_ = 0;
};

std::uint64_t size_on_computer(const std::string& path) {
    stdio_file file;
    file.open(path, false, false);
    return file.size();
}

// The folders along the name that the install will make; false when something that is no
// folder stands in their way (logged).
bool count_new_folders(const platform::volume_root& volume, const std::string& relative,
                       std::set<std::string>& seen, space_plan& plan) {
    for (std::size_t slash = relative.find('/'); slash != std::string::npos;
         slash = relative.find('/', slash + 1)) {
        const std::string folder = relative.substr(0, slash + 1);
        if (!seen.insert(folder).second) {
            continue;
        }
        const platform::entry_kind kind = volume.entry(folder).kind;
        if (kind == platform::entry_kind::missing) {
            plan.new_folder();
        } else if (kind != platform::entry_kind::folder) {
            if (kind == platform::entry_kind::file) {
                platform::log_refusal(volume.path_of(folder), "a file", "a folder");
            }
            return false;
        }
    }
    return true;
}

// What the install will need, and the sizes of the files it replaces; false when a place is
// refused (logged).
bool plan_install(const platform::volume_root& volume, const std::vector<unit_file>& files,
                  space_plan& plan, std::vector<std::uint64_t>& old_sizes) {
    std::set<std::string> folders;
    for (const unit_file& file : files) {
        if (!count_new_folders(volume, file.relative, folders, plan)) {
            return false;
        }
        const platform::volume_entry old = volume.entry(file.relative);
        if (old.kind == platform::entry_kind::folder) {
            platform::log_refusal(volume.path_of(file.relative), "a folder", "a regular file");
        }
        if (old.kind != platform::entry_kind::file && old.kind != platform::entry_kind::missing) {
            return false;
        }
        plan.replace(old.size, size_on_computer(file.source));
        old_sizes.push_back(old.size);
    }
    return true;
}

// Files staged beside their targets, renamed together after one wait for the unit's disk. A
// batch ends early rather than hold more than the room the unit had: each file alone fits,
// as the plan found. What a failure left staged goes with the batch.
class staged_batch {
public:
    staged_batch(const platform::volume_root& volume, const space_units& units, std::int64_t room)
        : volume_(volume), units_(units), room_(room) {}
    ~staged_batch() {
        for (const pending& file : pending_) {
            volume_.remove_file(file.staged);
        }
    }
    staged_batch(const staged_batch&) = delete;
    staged_batch& operator=(const staged_batch&) = delete;

    void add(const unit_file& file, std::uint64_t old_size) {
        const std::int64_t added = units_.of(size_on_computer(file.source));
        if (!pending_.empty() && (pending_.size() >= batch_files || in_use_ + added > room_)) {
            put_in_place();
        }
        if (!volume_.create_folders(file.relative)) {
            throw intl_exception("Can't create the folders of " + volume_.path_of(file.relative));
        }
        pending_.push_back(
            {stage_copy(volume_, file.source, file.relative), file.relative, units_.of(old_size)});
        in_use_ += added;
    }

    void put_in_place() {
        if (!volume_.sync()) {
            throw intl_exception("Can't write the staged files to the unit's disk");
        }
        for (; !pending_.empty(); pending_.erase(pending_.begin())) {
            put_over_target(volume_, pending_.front().staged, pending_.front().target);
            in_use_ -= pending_.front().old_units;
        }
    }

private:
    struct pending {
        std::string staged;
        std::string target;
        std::int64_t old_units;
    };

    const platform::volume_root& volume_;
    const space_units& units_;
    std::int64_t room_;
    std::int64_t in_use_ = 0;  // as in space_plan
    std::vector<pending> pending_;
};

}  // namespace

bool install_files(const platform::volume_root& volume, const std::vector<unit_file>& files) {
    try {
        remove_staging_leftovers(volume);
        const space_units units(volume.allocation_unit());
        space_plan plan(units);
        std::vector<std::uint64_t> old_sizes;
        if (!plan_install(volume, files, plan, old_sizes)) {
            return false;
        }
        const std::uint64_t free = volume.free_space();
        if (plan.needed() > free) {
            log(3, "Not enough space on the unit: %llu bytes needed, %llu free",
                static_cast<unsigned long long>(plan.needed()),
                static_cast<unsigned long long>(free));
            return false;
        }
        // The new folders' room is kept aside; a free space that could not be read is taken
        // as plenty.
        const auto room = static_cast<std::int64_t>(std::min<std::uint64_t>(free, INT64_MAX) -
                                                    static_cast<std::uint64_t>(plan.folders()));
        staged_batch batch(volume, units, room);
        for (std::size_t i = 0; i < files.size(); ++i) {
            batch.add(files[i], old_sizes[i]);
        }
        batch.put_in_place();
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
        return false;
    }
    return true;
}

}  // namespace orvel
