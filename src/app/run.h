// The whole life of the agent, from the log file to "app exited".
#pragma once

#include "app/member_certificate.h"

namespace orvel {

// Serves with the pair beside the executable when it is there, else with the member's own.
// 0, or -1 when the temporary folder or the log file cannot be set up.
int run(const certificate_files& beside);

}  // namespace orvel
