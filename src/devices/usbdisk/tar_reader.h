// The tar archives the service packs a unit's course library in: every entry's name starts
// with a four-character folder ("pkg/") that is not part of the unit's tree.
#pragma once

#include <string>

#include "base/events.h"
#include "platform/data_stream.h"

namespace orvel::tar {

// Unpacks the archive into a work folder on the computer ("untar.temp/" in the temporary
// folder), then installs what it holds onto the unit whose root is the destination, which
// ends with "/" (see library_install.h: nothing changes unless it all fits, and every file
// is at every moment the old or the new one). The work folder is gone afterwards, also
// after a failure. Throws intl_exception, and extl_exception 1500 when the event fires.
void unpack(data_stream& stream, const std::string& destination, event_base& interrupt);

// The reader alone: the archive's regular files below the folder (which ends with "/"),
// each entry held in memory whole before it is written. Entries that would land outside
// the folder, links and devices fail the whole archive.
void read_archive(data_stream& stream, const std::string& folder, event_base& interrupt);

}  // namespace orvel::tar
