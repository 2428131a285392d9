#include "support/process_figures.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace orvel::test {

process_figures figures_of(int pid) {
    process_figures figures;
    const std::string root = "/proc/" + std::to_string(pid);
    std::ifstream status(root + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> figures.resident_kb;
            break;
        }
        status.ignore(4096, '\n');
    }
    std::error_code error;
    for (std::filesystem::directory_iterator it(root + "/fd", error), end; !error && it != end;
         it.increment(error)) {
        ++figures.open_files;
    }
    return figures;
}

bool within_tenth(std::uint64_t base, std::uint64_t later) {
    return later <= base + std::max<std::uint64_t>(base / 10, 1);
}

}  // namespace orvel::test
