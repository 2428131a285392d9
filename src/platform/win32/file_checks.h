// What the Windows file layer shares: the runtime's errno for a system error, and what
// counts as a link.
#pragma once

#include <windows.h>

namespace orvel::platform {

// The errno the runtime's own open sets for what the system refused, so that the failure
// texts read the same as with the runtime's calls.
int errno_of(DWORD error);
// A symbolic link or junction: a write through it would land wherever its maker chose.
// Other reparse points (a cloud file's placeholder) are files of their own. A handle whose
// attributes cannot be read counts as one.
bool is_link(HANDLE file);

}  // namespace orvel::platform
