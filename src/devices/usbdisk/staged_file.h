// How a file of the unit is replaced: the new one is written beside it under a temporary
// name and then renamed over it, so that at every moment the unit holds either the old
// file or the new one, never a missing or short one. A unit pulled mid-write keeps the
// temporary name, which the next install removes.
#pragma once

#include <memory>
#include <string>

#include "platform/file_stream.h"
#include "platform/volume_root.h"

namespace orvel {

// What the temporary names end with: the target's name and this.
inline constexpr const char* staging_suffix = ".orvelsync-new";

// A whole file of the unit written through a stream.
class staged_file {
public:
    // Throws intl_exception when the target is refused (a link or special file, which the
    // volume logs; a folder) or the temporary file cannot be made.
    staged_file(const platform::volume_root& volume, std::string relative);
    // Removes the temporary file unless it was put in place.
    ~staged_file();
    staged_file(const staged_file&) = delete;
    staged_file& operator=(const staged_file&) = delete;

    file_stream& stream() { return *stream_; }
    // Closes the file, which waits for the unit's disk, and renames it over the target;
    // throws intl_exception when it cannot.
    void put_in_place();

private:
    const platform::volume_root& volume_;
    std::string target_;
    std::string staged_;
    std::unique_ptr<file_stream> stream_;
    bool placed_ = false;
};

// A file of the computer in place of the unit's file, the same way. Throws intl_exception.
void put_on_unit(const platform::volume_root& volume, const std::string& source,
                 const std::string& relative);
// put_on_unit in two steps, for many files with one wait for the unit's disk between them:
// the copy under the temporary name (which is answered; not yet on the disk), then, once the
// volume is synced, the rename. Both throw intl_exception and leave no temporary file then.
std::string stage_copy(const platform::volume_root& volume, const std::string& source,
                       const std::string& relative);
void put_over_target(const platform::volume_root& volume, const std::string& staged,
                     const std::string& target);
// Removes the temporary names an earlier update left on the unit, in every folder below
// the root; links are not followed.
void remove_staging_leftovers(const platform::volume_root& volume);

}  // namespace orvel
