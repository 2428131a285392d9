#include "platform/auto_fd.h"

#include <unistd.h>

#include <cerrno>

namespace orvel::platform {

void auto_fd::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) {
        const int saved = errno;
        ::close(fd_);
        errno = saved;
    }
    fd_ = fd;
}

}  // namespace orvel::platform
