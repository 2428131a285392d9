// Tar archives for tests: hand-built ones (tar_builder), and ones that GNU tar and Python's
// tarfile make.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim/tar_builder.h"

namespace orvel::test {

// The folder's "pkg" subfolder as an archive, made by "gnu-tar" or "python" in "gnu",
// "ustar" or "pax" format; false when the maker failed.
bool make_archive(const std::string& maker, const std::string& format, const std::string& parent,
                  const std::string& archive);

// Every regular file below the folder, by its path relative to it, with its content.
std::vector<std::pair<std::string, std::string>> files_below(const std::string& folder);

}  // namespace orvel::test
