// System calls of the Linux host that a signal may interrupt, made again
// until they are not (every handler the host installs restarts them, but
// an open of a device or a FIFO can still end with EINTR).
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <cerrno>

// open(2), again while interrupted; -1 with errno otherwise.
inline int open_retrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::open(path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}
