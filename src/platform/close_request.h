// How the agent is asked to end: a service manager's stop, Ctrl-C, a closed terminal.
#pragma once

namespace orvel::platform {

// Keeps close requests from interrupting any thread; call first, before any thread starts,
// so that every thread inherits it and only wait_for_close_request() takes them.
void block_close_requests();
// Waits until a close request arrives; false after logging when waiting failed.
bool wait_for_close_request();

}  // namespace orvel::platform
