// The system's texts for error numbers, from the system or from one module's table.
#pragma once

#include <windows.h>

#include <string>

namespace orvel::platform {

// The English text (0x409, the language log readers expect), else the system's own
// language's; inserts are left as they are, the closing line break is dropped, and a
// number without a text gives an empty one. A null module means the system's table.
std::string message_text(HMODULE module, DWORD error);

}  // namespace orvel::platform
