// What a running process holds, read from /proc: its resident memory and open descriptors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvel::test {

struct process_figures {
    std::uint64_t resident_kb = 0;  // VmRSS
    std::size_t open_files = 0;     // entries of /proc/<pid>/fd
};

// Zeros when the process is gone.
process_figures figures_of(int pid);

// Whether `later` stays within a tenth of `base` (at least one unit, so that a small
// descriptor count may move by one).
bool within_tenth(std::uint64_t base, std::uint64_t later);

}  // namespace orvel::test
