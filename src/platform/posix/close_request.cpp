#include "platform/close_request.h"

#include <pthread.h>
#include <signal.h>

#include "platform/system_error.h"

namespace orvel::platform {

namespace {

sigset_t close_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void block_close_requests() {
    const sigset_t set = close_signals();
    // Threads created later inherit the mask, so no thread is ended by these signals.
    const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (error != 0) {
        log_system_error("pthread_sigmask", error);
    }
}

bool wait_for_close_request() {
    const sigset_t set = close_signals();
    int received = 0;
    const int error = sigwait(&set, &received);
    if (error != 0) {
        log_system_error("sigwait", error);
        return false;
    }
    return true;
}

}  // namespace orvel::platform
