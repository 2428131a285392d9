#include "platform/standard_streams.h"

#include <unistd.h>

#include "platform/system_error.h"

namespace orvel::platform {

bool point_standard_streams_at(std::FILE* file) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int target = ::fileno(file);
    if (target < 0) {
        log_system_error("fileno");
        return false;
    }
    bool pointed = true;
    for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
        if (::dup2(target, stream) < 0) {
            log_system_error("dup2");
            pointed = false;
        }
    }
    // A file makes stdout fully buffered; library lines should appear where they happen.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    return pointed;
}

}  // namespace orvel::platform
