#include "platform/write_behind.h"

namespace orvel::platform {

bool start_writeback(std::FILE* file) {
    // The system's cache writes a file's pages out by itself while it is written; it has no
    // call that starts this without waiting for it.
    return file != nullptr && std::fflush(file) == 0;
}

}  // namespace orvel::platform
