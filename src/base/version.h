#pragma once

namespace orvel {

// The version as the agent's resources spell it; the page receives it with full stops.
inline constexpr const char* version_text = "2, 5, 8, 0";

}  // namespace orvel
