// The Linux host's files: the image file (only a regular file can be one),
// its size and its bytes, and the record a run appends to.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/linux/host_state.h"
#include "platform/linux/retrying_calls.h"
#include "platform/linux/sg_io.h"

namespace linux_host {

HANDLE open_file(open_handle& h, LPCSTR name, DWORD access) {
    // Without O_NONBLOCK a FIFO holds the open until a writer comes; only a
    // regular file can be an image.
    const int fd =
        open_retrying(name, O_CLOEXEC | O_NOCTTY | O_NONBLOCK | ((access & GENERIC_WRITE) ? O_RDWR : O_RDONLY));
    if (fd < 0) return fail_open_errno(errno);
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

namespace {

// True when the regular file open at `fd` ends inside a line (a record an
// earlier write cut short): the next record must start on a line of its own.
bool ends_inside_a_line(int fd) {
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) return false;
    char last = '\n';
    return ::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n';
}

}  // namespace

int l_append_to_file(const char* path, const char* bytes, size_t length) {
    // A FIFO nobody reads would hold the run for ever: it is refused at once.
    constexpr int flags = O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = open_retrying(path, O_RDWR | flags, 0644);
    if (fd < 0 && errno == EACCES) fd = open_retrying(path, O_WRONLY | flags, 0644);  // a drop box: written, not read
    if (fd < 0) return -1;
    std::string line;
    if (ends_inside_a_line(fd)) line = "\n";
    line.append(bytes, length);
    // A write cut short (a full disk) is completed, or else taken back, so
    // that no half record is left for the next one to be glued to.
    struct stat status;
    const off_t start = ::fstat(fd, &status) == 0 ? status.st_size : -1;
    const size_t done = write_all_retrying(fd, line.data(), line.size());
    if (done != line.size() && done != 0 && start >= 0 && S_ISREG(status.st_mode)) (void)::ftruncate(fd, start);
    ::close(fd);
    return done == line.size() ? 0 : -1;
}

}  // namespace linux_host
