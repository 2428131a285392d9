#include "devices/usbdisk/staged_file.h"

#include <vector>

#include "base/failures.h"
#include "base/log_hub.h"

namespace orvel {

namespace {

// Deeper than any unit's own tree: a folder nested without end is not walked to its end.
constexpr int deepest_folder = 16;

// Only a regular file is replaced, or a name that is free.
void check_target(const platform::volume_root& volume, const std::string& relative) {
    const platform::entry_kind kind = volume.entry(relative).kind;
    if (kind == platform::entry_kind::folder) {
        platform::log_refusal(volume.path_of(relative), "a folder", "a regular file");
    }
    if (kind != platform::entry_kind::file && kind != platform::entry_kind::missing) {
        throw intl_exception("Can't replace " + volume.path_of(relative));
    }
}

// A temporary file an earlier writer left would fail the exclusive create.
std::string free_staging_name(const platform::volume_root& volume, const std::string& relative) {
    const std::string staged = relative + staging_suffix;
    if (!volume.remove_file(staged)) {
        throw intl_exception("Can't remove " + volume.path_of(staged));
    }
    return staged;
}

bool ends_with_suffix(const std::string& name) {
    const std::string suffix = staging_suffix;
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void remove_leftovers_below(const platform::volume_root& volume, const std::string& folder,
                            int depth) {
    std::vector<platform::volume_entry> entries;
    if (depth > deepest_folder || !volume.list_folder(folder, entries)) {
        return;
    }
    for (const platform::volume_entry& entry : entries) {
        const std::string relative = folder + entry.name;
        if (entry.kind == platform::entry_kind::folder) {
            remove_leftovers_below(volume, relative + "/", depth + 1);
        } else if (entry.kind == platform::entry_kind::file && ends_with_suffix(entry.name) &&
                   volume.remove_file(relative)) {
            log(3, "Removed %s, left by an update that did not end",
                volume.path_of(relative).c_str());
        }
    }
}

}  // namespace

staged_file::staged_file(const platform::volume_root& volume, std::string relative)
    : volume_(volume), target_(std::move(relative)) {
    check_target(volume_, target_);
    staged_ = free_staging_name(volume_, target_);
    stream_ = std::make_unique<file_stream>(volume_, staged_, file_stream::create_new);
}

staged_file::~staged_file() {
    stream_.reset();
    if (!placed_) {
        volume_.remove_file(staged_);
    }
}

void staged_file::put_in_place() {
    stream_->file().close();
    put_over_target(volume_, staged_, target_);
    placed_ = true;
}

std::string stage_copy(const platform::volume_root& volume, const std::string& source,
                       const std::string& relative) {
    check_target(volume, relative);
    const std::string staged = free_staging_name(volume, relative);
    if (!volume.copy_in(source, staged)) {
        volume.remove_file(staged);
        throw intl_exception("Can't copy " + source + " to " + volume.path_of(staged));
    }
    return staged;
}

void put_over_target(const platform::volume_root& volume, const std::string& staged,
                     const std::string& target) {
    if (!volume.replace_file(staged, target)) {
        volume.remove_file(staged);
        throw intl_exception("Can't put " + volume.path_of(staged) + " in place of " +
                             volume.path_of(target));
    }
}

void put_on_unit(const platform::volume_root& volume, const std::string& source,
                 const std::string& relative) {
    const std::string staged = stage_copy(volume, source, relative);
    if (!volume.sync()) {
        volume.remove_file(staged);
        throw intl_exception("Can't write " + volume.path_of(staged) + " to the unit's disk");
    }
    put_over_target(volume, staged, relative);
}

void remove_staging_leftovers(const platform::volume_root& volume) {
    remove_leftovers_below(volume, "", 0);
}

}  // namespace orvel
