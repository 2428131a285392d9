// Names from the service or from its packages that are joined to a folder on the unit.
#pragma once

#include <string>

namespace orvel {

// Joined to a folder as it comes, an absolute name or a ".." step would land outside it.
// Both separators count: the service names files for units of either system.
bool stays_below_root(const std::string& name);

}  // namespace orvel
