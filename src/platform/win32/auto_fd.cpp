#include "platform/auto_fd.h"

#include <io.h>

#include <cerrno>

namespace orvel::platform {

// The C runtime's descriptors, as stdio hands them out.
void auto_fd::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) {
        const int saved = errno;
        ::_close(fd_);
        errno = saved;
    }
    fd_ = fd;
}

}  // namespace orvel::platform
