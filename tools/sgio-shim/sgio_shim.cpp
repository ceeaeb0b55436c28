// libsgio-emu.so: the C library calls a SCSI client makes on a drive's device,
// taken over for the drives of a scenario (see emulated_drives.h). An emulated
// /dev/srN opens as a descriptor of /dev/null that fstat shows as the SCSI
// CD-ROM block device and that answers SG_IO from its emulated drive; a
// stand-in path keeps its real descriptor and only SG_IO on it is answered.
// Every other path, descriptor and call goes to the C library untouched.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "tools/sgio-shim/emulated_drives.h"

#define SHIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The SG_IO version the block layer reports for /dev/srN (3.5.27).
constexpr int SG_DRIVER_VERSION = 30527;
constexpr int MAX_TRACKED_FD = 1 << 16;

using open_fn = int (*)(const char*, int, ...);
using openat_fn = int (*)(int, const char*, int, ...);
using open_2_fn = int (*)(const char*, int);
using openat_2_fn = int (*)(int, const char*, int);
using close_fn = int (*)(int);
using ioctl_fn = int (*)(int, unsigned long, ...);
using fstat_fn = int (*)(int, struct stat*);
using fstat64_fn = int (*)(int, struct stat64*);
using capget_fn = int (*)(cap_user_header_t, cap_user_data_t);

template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

struct libc_calls {
    open_fn open = next<open_fn>("open");
    open_fn open64 = next<open_fn>("open64");
    openat_fn openat = next<openat_fn>("openat");
    openat_fn openat64 = next<openat_fn>("openat64");
    open_2_fn open_2 = next<open_2_fn>("__open_2");
    open_2_fn open64_2 = next<open_2_fn>("__open64_2");
    openat_2_fn openat_2 = next<openat_2_fn>("__openat_2");
    openat_2_fn openat64_2 = next<openat_2_fn>("__openat64_2");
    close_fn close = next<close_fn>("close");
    ioctl_fn ioctl = next<ioctl_fn>("ioctl");
    fstat_fn fstat = next<fstat_fn>("fstat");
    fstat64_fn fstat64 = next<fstat64_fn>("fstat64");
    capget_fn capget = next<capget_fn>("capget");
};

const libc_calls& libc() {
    static const libc_calls calls;
    return calls;
}

// Which drive each descriptor opened through an emulated path reaches (index
// + 1), and during which attachment of the drive it was opened.
std::atomic<int16_t> tracked[MAX_TRACKED_FD];
std::atomic<uint16_t> attachment_of[MAX_TRACKED_FD];

// Held for ever: the report is written after the C++ objects of the library are gone.
shim::drive_table* table = nullptr;
pid_t owner = 0;
thread_local bool loading = false;

shim::drive_table* drives() {
    static std::once_flag once;
    if (loading) return nullptr;  // the scenario's own file reads
    std::call_once(once, [] {
        loading = true;
        auto* t = new shim::drive_table;
        std::string error;
        if (!t->load(error)) std::fprintf(stderr, "libsgio-emu: %s; no drive is emulated\n", error.c_str());
        table = t;
        owner = getpid();
        loading = false;
    });
    return table && table->active() ? table : nullptr;
}

int tracked_drive(int fd) {
    if (fd < 0 || fd >= MAX_TRACKED_FD) return -1;
    return tracked[fd].load(std::memory_order_relaxed) - 1;
}

// The drive a descriptor reaches, opened here or by anyone through a stand-in.
int drive_of(shim::drive_table& t, int fd) {
    const int d = tracked_drive(fd);
    if (d >= 0 || !t.has_stand_ins()) return d;
    struct stat status;
    if (libc().fstat(fd, &status) != 0) return -1;
    return t.drive_for_identity(status);
}

// True for the machine's own optical drives and SCSI generic devices, however
// they are named (a link, a doubled slash, a path relative to a folder).
bool real_drive_device(int dirfd, const char* path) {
    constexpr unsigned SCSI_CDROM_MAJOR = 11;
    constexpr unsigned SCSI_GENERIC_MAJOR = 21;
    struct stat status;
    if (fstatat(dirfd, path, &status, 0) != 0) return false;
    return (S_ISBLK(status.st_mode) && major(status.st_rdev) == SCSI_CDROM_MAJOR) ||
           (S_ISCHR(status.st_mode) && major(status.st_rdev) == SCSI_GENERIC_MAJOR);
}

// An emulated path opens here; -2 when the C library should open `path`. A
// program run with the shim never reaches a real drive, even when the
// scenario could not be read: a test answering Yes must not update one.
int open_emulated(int dirfd, const char* path, int flags) {
    if (path == nullptr) return -2;
    shim::drive_table* t = drives();
    int d = shim::PATH_NOT_SERVED;
    if (t != nullptr && (dirfd == AT_FDCWD || path[0] == '/')) d = t->drive_for_path(path);
    if (d == shim::PATH_NOT_SERVED && !loading && real_drive_device(dirfd, path)) d = shim::PATH_ABSENT;
    if (d == shim::PATH_NOT_SERVED) return -2;
    if (d == shim::PATH_ABSENT) {
        errno = ENOENT;
        return -1;
    }
    if ((*t)[d].open_errno != 0) {
        errno = (*t)[d].open_errno;
        return -1;
    }
    t->link_sysfs(d);
    const bool exclusive = (flags & O_EXCL) != 0 && (flags & O_PATH) == 0;
    if (exclusive) {
        if (const int error = t->take_claim(d); error != 0) {
            errno = error;
            return -1;
        }
    }
    const int fd = libc().open("/dev/null", flags & (O_ACCMODE | O_CLOEXEC | O_PATH));
    if (fd < 0 || fd >= MAX_TRACKED_FD) {
        const int error = fd < 0 ? errno : EMFILE;
        if (fd >= 0) libc().close(fd);
        if (exclusive) t->release_claim(d);
        errno = error;
        return -1;
    }
    if (exclusive) (*t)[d].exclusive_fd = fd;
    attachment_of[fd].store(static_cast<uint16_t>((*t)[d].attachment), std::memory_order_relaxed);
    tracked[fd].store(static_cast<int16_t>(d + 1), std::memory_order_relaxed);
    return fd;
}

mode_t mode_argument(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

// fstat of an emulated /dev/srN: the SCSI CD-ROM block device of its number.
void as_drive(int d, mode_t& mode, dev_t& rdev) {
    mode = S_IFBLK | 0660;
    const char letter = (*table)[d].letter;
    rdev = makedev(shim::SCSI_CDROM_MAJOR, static_cast<unsigned>(letter - shim::FIRST_LETTER));
}

int answer_ioctl(shim::drive_table& t, int fd, int d, unsigned long request, void* argument, uint64_t entered_ns) {
    switch (request) {
    case SG_IO: {
        if (argument == nullptr) {
            errno = EFAULT;
            return -1;
        }
        // A stand-in descriptor belongs to no attachment: it follows the drive.
        const uint32_t attachment = tracked_drive(fd) == d ? attachment_of[fd].load(std::memory_order_relaxed)
                                                          : t[d].attachment;
        if (t[d].lowest_descriptor < 0 || fd < t[d].lowest_descriptor) t[d].lowest_descriptor = fd;
        const int error = t.answer_sg_io(d, attachment, *static_cast<sg_io_hdr_t*>(argument), entered_ns);
        if (error != 0) {
            errno = error;
            return -1;
        }
        return 0;
    }
    case SG_GET_VERSION_NUM:
        if (argument == nullptr) {
            errno = EFAULT;
            return -1;
        }
        *static_cast<int*>(argument) = SG_DRIVER_VERSION;
        return 0;
    default: return -2;
    }
}

__attribute__((destructor)) void report_at_exit() {
    if (table && table->active() && getpid() == owner) table->write_report();
}

}  // namespace

SHIM_EXPORT int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    const int fd = open_emulated(AT_FDCWD, path, flags);
    return fd != -2 ? fd : libc().open(path, flags, mode);
}

SHIM_EXPORT int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    const int fd = open_emulated(AT_FDCWD, path, flags);
    return fd != -2 ? fd : libc().open64(path, flags, mode);
}

SHIM_EXPORT int __open_2(const char* path, int flags) {
    const int fd = open_emulated(AT_FDCWD, path, flags);
    return fd != -2 ? fd : libc().open_2(path, flags);
}

SHIM_EXPORT int __open64_2(const char* path, int flags) {
    const int fd = open_emulated(AT_FDCWD, path, flags);
    return fd != -2 ? fd : libc().open64_2(path, flags);
}

SHIM_EXPORT int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    const int fd = open_emulated(dirfd, path, flags);
    return fd != -2 ? fd : libc().openat(dirfd, path, flags, mode);
}

SHIM_EXPORT int openat64(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    const int fd = open_emulated(dirfd, path, flags);
    return fd != -2 ? fd : libc().openat64(dirfd, path, flags, mode);
}

SHIM_EXPORT int __openat_2(int dirfd, const char* path, int flags) {
    const int fd = open_emulated(dirfd, path, flags);
    return fd != -2 ? fd : libc().openat_2(dirfd, path, flags);
}

SHIM_EXPORT int __openat64_2(int dirfd, const char* path, int flags) {
    const int fd = open_emulated(dirfd, path, flags);
    return fd != -2 ? fd : libc().openat64_2(dirfd, path, flags);
}

SHIM_EXPORT int close(int fd) {
    const int d = tracked_drive(fd);
    if (d >= 0 && table != nullptr && (*table)[d].exclusive_fd == fd) table->release_claim(d);
    if (fd >= 0 && fd < MAX_TRACKED_FD) tracked[fd].store(0, std::memory_order_relaxed);
    return libc().close(fd);
}

SHIM_EXPORT int ioctl(int fd, unsigned long request, ...) noexcept {
    const uint64_t entered_ns = request == SG_IO ? shim::monotonic_ns() : 0;
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (request == SG_IO || request == SG_GET_VERSION_NUM) {
        if (shim::drive_table* t = drives()) {
            const int d = drive_of(*t, fd);
            if (d >= 0) {
                const int result = answer_ioctl(*t, fd, d, request, argument, entered_ns);
                if (result != -2) return result;
            }
        }
    }
    return libc().ioctl(fd, request, argument);
}

SHIM_EXPORT int fstat(int fd, struct stat* status) noexcept {
    const int result = libc().fstat(fd, status);
    const int d = tracked_drive(fd);
    if (result == 0 && d >= 0) as_drive(d, status->st_mode, status->st_rdev);
    return result;
}

SHIM_EXPORT int fstat64(int fd, struct stat64* status) noexcept {
    const int result = libc().fstat64(fd, status);
    const int d = tracked_drive(fd);
    if (result == 0 && d >= 0) as_drive(d, status->st_mode, status->st_rdev);
    return result;
}

// CAP_SYS_RAWIO is the emulated machine's to grant: present unless the scenario
// says "cap_sys_rawio": false, whoever runs the test.
SHIM_EXPORT int capget(cap_user_header_t header, cap_user_data_t data) {
    const int result = libc().capget(header, data);
    shim::drive_table* t = drives();
    if (result != 0 || t == nullptr || data == nullptr) return result;
    constexpr uint32_t RAW_IO = 1u << CAP_SYS_RAWIO;  // in the first word of every version
    data->effective = t->raw_io_granted() ? data->effective | RAW_IO : data->effective & ~RAW_IO;
    data->permitted = t->raw_io_granted() ? data->permitted | RAW_IO : data->permitted & ~RAW_IO;
    return result;
}
