#include "platform/write_behind.h"

#include <fcntl.h>

namespace orvel::platform {

bool start_writeback(std::FILE* file) {
    if (file == nullptr || std::fflush(file) != 0) {
        return false;
    }
    // Pages already on their way are not waited for; the length 0 means "to the end".
    return ::sync_file_range(::fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE) == 0;
}

}  // namespace orvel::platform
