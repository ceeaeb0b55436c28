// System calls of the Linux host that a signal may interrupt, made again
// until they are not (every handler the host installs restarts them, but
// an open of a device or a FIFO, a lock or a sleep can still end with
// EINTR). Each is only the call and errno: a signal handler may use them.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

// open(2), again while interrupted; -1 with errno otherwise.
inline int open_retrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::open(path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// open(2) of a block device with O_EXCL, the block layer's exclusive claim,
// again while another open file holds the claim (EBUSY), for 2 s at most:
// udev's cdrom_id holds a drive so for a moment after each media event. The
// claim is refused before the driver opens the drive, so waiting asks it
// nothing. -1 with errno otherwise (EBUSY: still held).
inline int open_claiming(const char* path, int flags) {
    constexpr long PAUSE_NS = 100L * 1000000L;
    constexpr int PAUSES = 20;
    int fd = open_retrying(path, flags | O_EXCL);
    for (int pause = 0; fd < 0 && errno == EBUSY && pause < PAUSES; ++pause) {
        timespec length{0, PAUSE_NS};
        while (::nanosleep(&length, &length) != 0 && errno == EINTR) {
        }
        fd = open_retrying(path, flags | O_EXCL);
    }
    return fd;
}

// ioctl(2), again while interrupted.
inline int ioctl_retrying(int fd, unsigned long request, void* argument) {
    int done;
    do done = ::ioctl(fd, request, argument);
    while (done < 0 && errno == EINTR);
    return done;
}

// One read(2), again while interrupted.
inline ssize_t read_retrying(int fd, void* buffer, size_t length) {
    ssize_t done;
    do done = ::read(fd, buffer, length);
    while (done < 0 && errno == EINTR);
    return done;
}

// One write(2), again while interrupted.
inline ssize_t write_retrying(int fd, const void* data, size_t length) {
    ssize_t done;
    do done = ::write(fd, data, length);
    while (done < 0 && errno == EINTR);
    return done;
}

// write(2) until all `length` bytes are written or a write fails or writes
// nothing; the bytes written.
inline size_t write_all_retrying(int fd, const void* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t written = write_retrying(fd, static_cast<const char*>(data) + done, length - done);
        if (written <= 0) break;
        done += static_cast<size_t>(written);
    }
    return done;
}

// flock(2), again while interrupted.
inline int flock_retrying(int fd, int operation) {
    int locked;
    do locked = ::flock(fd, operation);
    while (locked != 0 && errno == EINTR);
    return locked;
}

// nanosleep(2) for the whole of `length`, the rest slept again after an interrupt.
inline void sleep_retrying(timespec length) {
    while (::nanosleep(&length, &length) != 0 && errno == EINTR) {
    }
}
