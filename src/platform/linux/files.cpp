// The Linux host's files: the image file (only a regular file can be one),
// its size and its bytes, and the record a run appends to (a file, or
// standard output for "-").
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/linux/host_state.h"
#include "platform/linux/record_writes.h"
#include "platform/linux/retrying_calls.h"
#include "platform/linux/sg_io.h"

char kept_record_path[256] = {};
int kept_record_fd = -1;

namespace linux_host {

HANDLE open_file(open_handle& h, LPCSTR name, DWORD access) {
    // Without O_NONBLOCK a FIFO holds the open until a writer comes; only a
    // regular file can be an image.
    const int fd =
        open_retrying(name, O_CLOEXEC | O_NOCTTY | O_NONBLOCK | ((access & GENERIC_WRITE) ? O_RDWR : O_RDONLY));
    // Only a name with nothing behind it is a file not found; a node that is
    // there but opens to no device (a socket, a device gone) is one refused.
    if (fd < 0) return errno == ENXIO || errno == ENODEV ? fail_open(ERROR_ACCESS_DENIED, errno) : fail_open_errno(errno);
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return fail_open(ERROR_ACCESS_DENIED);
    }
    h = open_handle{};
    h.kind = open_handle::file;
    h.fd = fd;
    return &h;
}

DWORD l_GetFileSize(HANDLE file, LPDWORD size_high) {
    open_handle* h = handle_of(file);
    struct stat status;
    if (h == nullptr || h->kind != open_handle::file) {
        last_error = ERROR_INVALID_HANDLE;
        return INVALID_FILE_SIZE;
    }
    if (::fstat(h->fd, &status) != 0) {
        fail_errno(errno);
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<uint64_t>(status.st_size);
    if (size_high) *size_high = static_cast<DWORD>(size >> 32);
    last_error = ERROR_SUCCESS;
    return static_cast<DWORD>(size);
}

BOOL l_ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED) {
    open_handle* h = handle_of(file);
    if (h == nullptr || h->kind != open_handle::file) return fail(ERROR_INVALID_HANDLE);
    DWORD total = 0;
    while (total < to_read) {
        const ssize_t n = read_retrying(h->fd, static_cast<char*>(buffer) + total, to_read - total);
        if (n < 0) {
            if (read) *read = total;
            return fail_errno(errno);
        }
        if (n == 0) break;
        total += static_cast<DWORD>(n);
    }
    if (read) *read = total;
    return TRUE;
}

int l_keep_record_open(const char* path) {
    if (std::strcmp(path, "-") == 0) return 0;
    if (kept_record_fd >= 0) ::close(kept_record_fd);
    kept_record_fd = open_record_file(path);
    std::snprintf(kept_record_path, sizeof kept_record_path, "%s", path);
    return kept_record_fd >= 0 ? 0 : -1;
}

// The kept record is judged by its descriptor, never by its path again.
bool l_same_file(const char* a, const char* b) {
    struct stat first, second;
    if (a == nullptr || b == nullptr || ::stat(b, &second) != 0) return false;
    const bool kept = kept_record_path[0] != '\0' && std::strcmp(a, kept_record_path) == 0;
    if (kept ? kept_record_fd < 0 || ::fstat(kept_record_fd, &first) != 0 : ::stat(a, &first) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

int l_write_file_whole(const char* path, const char* bytes, size_t length) {
    const std::string part = std::string(path) + ".part";
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    bool written = true;
    for (size_t done = 0; written && done < length;) {
        const ssize_t n = ::write(fd, bytes + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += static_cast<size_t>(n);
    }
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (written && ::rename(part.c_str(), path) == 0) return 0;
    ::unlink(part.c_str());
    return -1;
}

int l_append_to_file(const char* path, const char* bytes, size_t length) {
    const int fd = open_record(path);
    if (fd < 0) return -1;
    std::string line = record_ends_inside_a_line(fd, path) ? "\n" : "";
    line.append(bytes, length);
    if (fd == STDOUT_FILENO) std::fflush(stdout);
    const bool written = write_record(fd, line.data(), line.size());
    close_record(fd);
    return written ? 0 : -1;
}

}  // namespace linux_host
