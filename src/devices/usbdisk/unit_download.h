// A download for a file of the unit, written on the computer first, in the agent's own
// temporary folder where nothing of the unit's reaches, and put on the unit only whole.
#pragma once

#include <string>

#include "platform/volume_root.h"

namespace orvel {

class unit_download {
public:
    // keep_old: the download starts as a copy of the unit's file, for a download that
    // writes over part of it. Throws intl_exception when the unit's file is refused (a link
    // or special file: nothing is read from it) or the copy cannot be made.
    unit_download(const platform::volume_root& volume, std::string relative, bool keep_old);
    // The computer's copy goes on every way out.
    ~unit_download();
    unit_download(const unit_download&) = delete;
    unit_download& operator=(const unit_download&) = delete;

    // Where the download goes.
    const std::string& path() const { return path_; }
    // Replaces the unit's file with the download through a temporary name beside it;
    // throws intl_exception when it cannot.
    void put_in_place();

private:
    const platform::volume_root& volume_;
    std::string relative_;
    std::string path_;
};

}  // namespace orvel
