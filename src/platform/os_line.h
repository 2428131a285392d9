#pragma once

namespace orvel {

// "OS: ..." at level 2: at start-up and with every status that carries a Code.
void log_os_line();

}  // namespace orvel
