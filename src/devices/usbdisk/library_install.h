// Files of the computer put onto a unit as a whole: a package's course library, or the
// course data file. Nothing on the unit changes before the whole install is known to fit.
#pragma once

#include <string>
#include <vector>

#include "platform/volume_root.h"

namespace orvel {

struct unit_file {
    std::string relative;  // the place below the root, "/" between folders
    std::string source;    // the file on the computer
};

// Removes the temporary names an earlier install left, checks that the unit has room for
// what the files need beyond the files they replace, and then puts each file in place
// through a temporary name beside it (staged_file.h), making the folders it needs; files are
// renamed only once their copies are on the unit's disk. False
// after logging why: "Not enough space on the unit: ... bytes needed, ... free", a link or
// special file in the way (the volume logs it), or a failed copy. A failure before the
// first file leaves the library as it was; after it, every file is the old or the new one.
bool install_files(const platform::volume_root& volume, const std::vector<unit_file>& files);

}  // namespace orvel
