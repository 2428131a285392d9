// Log lines as the page can take them.
#pragma once

#include <string>

namespace orvel {

// The line with every byte sequence that is not UTF-8 replaced by U+FFFD. The log keeps
// the system's 8-bit text (an answer body, a unit's name), but a WebSocket text message
// must be UTF-8, and the library refuses to send one that is not.
std::string page_text(const std::string& line);

}  // namespace orvel
