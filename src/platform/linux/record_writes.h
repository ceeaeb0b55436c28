// How the Linux host writes the record, during the run and from a signal
// handler when one ends it: each piece in one append, starting a line of its
// own, and a piece cut short (a full disk, a file size limit) completed with
// a line end where it can be, never taken back, since another machine may
// have appended to a shared log after it. Only open, fstat, pread, write and
// close: a signal handler may use them.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "platform/linux/retrying_calls.h"

// The record the run opened once it knew the record is not the image
// (files.cpp): its path, and its descriptor, or -1 when it could not be
// opened; an empty path while no record was kept.
extern char kept_record_path[256];
extern int kept_record_fd;

// Opens the record at `path` for appending, created if missing; -1 when it
// cannot be opened. For writing only: a FIFO nobody reads then fails at once
// (ENXIO), where a descriptor that also read it would swallow every record.
inline int open_record_file(const char* path) {
    return open_retrying(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
}

// The descriptor the record at `path` is written to: standard output for
// "-", the kept one for the kept record's path (never reopened by the path,
// which may lead elsewhere by now), else the file opened as above.
inline int open_record(const char* path) {
    if (std::strcmp(path, "-") == 0) return STDOUT_FILENO;
    if (kept_record_path[0] != '\0' && std::strcmp(path, kept_record_path) == 0) return kept_record_fd;
    return open_record_file(path);
}

inline void close_record(int fd) {
    if (fd != STDOUT_FILENO && fd != kept_record_fd) ::close(fd);
}

// True when the record's file at `fd` is a regular file that ends inside a
// line (a record cut short here or by another machine): the next piece then
// starts with a line end. The last byte is read through a descriptor of its
// own, opened by `path` and checked to be the same file; a file this user
// may write but not read (a drop box) is taken as ending its line.
inline bool record_ends_inside_a_line(int fd, const char* path) {
    struct stat written;
    if (fd == STDOUT_FILENO || ::fstat(fd, &written) != 0 || !S_ISREG(written.st_mode)) return false;
    const int reader = open_retrying(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (reader < 0) return false;
    struct stat seen;
    char last = '\n';
    const bool inside = ::fstat(reader, &seen) == 0 && seen.st_dev == written.st_dev &&
                        seen.st_ino == written.st_ino && seen.st_size > 0 &&
                        ::pread(reader, &last, 1, seen.st_size - 1) == 1 && last != '\n';
    ::close(reader);
    return inside;
}

// Writes `length` bytes of whole lines at `fd` in one write: true when all
// went. Standard output, which this run alone writes, gets the rest of a
// short write too (a signal may cut a pipe's write short). A piece still cut
// short is ended with a line end where one can be written, so that the next
// piece, this run's or another machine's, starts a line of its own.
inline bool write_record(int fd, const char* bytes, size_t length) {
    const ssize_t written = write_retrying(fd, bytes, length);
    size_t done = written > 0 ? static_cast<size_t>(written) : 0;
    if (fd == STDOUT_FILENO && written > 0) done += write_all_retrying(fd, bytes + done, length - done);
    if (done == length) return true;
    if (done > 0) (void)write_retrying(fd, "\n", 1);
    return false;
}
