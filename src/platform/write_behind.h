// Large downloads hand their bytes to the disk while they run, so that the flush that
// closes the file has little left to wait for.
#pragma once

#include <cstdint>
#include <cstdio>

namespace orvel::platform {

// How much a download writes before it has the disk start on it, so that the flush at its
// end does not wait for the whole file.
inline constexpr std::uint64_t writeback_step = 8 * 1024 * 1024;

// Starts writing what the file holds so far to its disk, without waiting for it. Nothing
// depends on it: the flush at close still writes whatever is left. False where the system
// cannot start it.
bool start_writeback(std::FILE* file);

}  // namespace orvel::platform
