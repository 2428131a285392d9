#include "devices/usbdisk/library_install.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include "app/failures.h"
#include "app/log_hub.h"
#include "devices/usbdisk/staged_file.h"
#include "platform/stdio_file.h"

namespace orvel {

namespace {

// What the unit must hold at once: a file and its temporary copy, together with what the
// files before it added or gave back.
class space_plan {
public:
    explicit space_plan(std::uint64_t unit) : unit_(std::max<std::uint64_t>(unit, 1)) {}

    // The new file is whole before the old one goes.
    void replace(std::uint64_t old_size, std::uint64_t new_size) {
        const auto added = static_cast<std::int64_t>(whole_units(new_size));
        peak_ = std::max(peak_, in_use_ + added);
        in_use_ += added - static_cast<std::int64_t>(whole_units(old_size));
    }
    // A new folder takes a unit on FAT.
    void new_folder() { folders_ += unit_; }

    std::uint64_t needed() const { return static_cast<std::uint64_t>(peak_) + folders_; }

private:
    std::uint64_t whole_units(std::uint64_t size) const {
        return (size / unit_ + (size % unit_ != 0 ? 1 : 0)) * unit_;
    }

    std::uint64_t unit_;
    std::int64_t in_use_ = 0;  // beyond what the unit holds now; less when files shrank
    std::int64_t peak_ = 0;
    std::uint64_t folders_ = 0;
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

// What the install will need; false when a place is refused (logged).
bool plan_install(const platform::volume_root& volume, const std::vector<unit_file>& files,
                  space_plan& plan) {
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
    }
    return true;
}

}  // namespace

bool install_files(const platform::volume_root& volume, const std::vector<unit_file>& files) {
    try {
        remove_staging_leftovers(volume);
        space_plan plan(volume.allocation_unit());
        if (!plan_install(volume, files, plan)) {
            return false;
        }
        const std::uint64_t free = volume.free_space();
        if (plan.needed() > free) {
            log(3, "Not enough space on the unit: %llu bytes needed, %llu free",
                static_cast<unsigned long long>(plan.needed()),
                static_cast<unsigned long long>(free));
            return false;
        }
        for (const unit_file& file : files) {
            if (!volume.create_folders(file.relative)) {
                return false;
            }
            put_on_unit(volume, file.source, file.relative);
        }
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
        return false;
    }
    return true;
}

}  // namespace orvel
