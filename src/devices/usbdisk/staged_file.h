// A download that reaches a unit's file only when it is whole: it is written beside the
// target and then replaces it in one rename, so a failed or stopped download leaves the
// unit's file as it was.
#pragma once

#include <string>

namespace orvel {

class staged_file {
public:
    // keep_old: the staged file starts as a copy of the target, for a download that writes
    // over part of it. Throws intl_exception when the staged file cannot be prepared.
    staged_file(std::string target, bool keep_old);
    // Removes the staged file unless it was put in place.
    ~staged_file();
    staged_file(const staged_file&) = delete;
    staged_file& operator=(const staged_file&) = delete;

    // Where the download goes.
    const std::string& path() const { return path_; }
    // Replaces the target; throws intl_exception when it cannot.
    void put_in_place();

private:
    std::string target_;
    std::string path_;
    bool placed_ = false;
};

}  // namespace orvel
