// Stops and gives back the kernel's media polling of each drive. What a
// signal handler may need (the file's path and its old value) is kept in
// fixed buffers, written back with open(2) and write(2).
#include "platform/linux/media_polling.h"

#include "platform/linux/device_map.h"
#include "platform/linux/retrying_calls.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {


struct polling {
    char path[256] = {};
    char value[24] = {};  // as read, line break included
    size_t length = 0;
    volatile sig_atomic_t stopped = 0;
};
polling drives[DEVICE_COUNT];

char sysfs_root[200] = "/sys";

bool write_whole(const char* path, const char* text, size_t length) {
    const int fd = open_retrying(path, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);  // a plain file too
    if (fd < 0) return false;
    ssize_t written;
    do written = ::write(fd, text, length);
    while (written < 0 && errno == EINTR);
    ::close(fd);
    return written == static_cast<ssize_t>(length);
}

// Every signal held for as long as it lives: async-signal-safe.
struct signals_held {
    sigset_t before;
    signals_held() {
        sigset_t all;
        sigfillset(&all);
        ::sigprocmask(SIG_BLOCK, &all, &before);
    }
    ~signals_held() { ::sigprocmask(SIG_SETMASK, &before, nullptr); }
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;
};

}  // namespace

void locate_sysfs() {
#if defined(ODD_TEST_HOOKS)
    // Test builds only: tests give each case a sysfs of its own.
    const char* root = ::secure_getenv("ODD_SYSFS_ROOT");
    std::snprintf(sysfs_root, sizeof sysfs_root, "%s", root && *root ? root : "/sys");
#endif
}

void stop_media_polling(int device) {
    if (device < 0 || device >= DEVICE_COUNT || drives[device].stopped) return;
    const signals_held hold;
    polling& p = drives[device];
    std::snprintf(p.path, sizeof p.path, "%s/class/block/sr%d/events_poll_msecs", sysfs_root, device);
    const int fd = open_retrying(p.path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    const ssize_t got = ::read(fd, p.value, sizeof p.value - 1);
    ::close(fd);
    if (got <= 0) return;
    p.length = static_cast<size_t>(got);
    if (write_whole(p.path, "0", 1)) p.stopped = 1;
}

void restore_media_polling(int device) {
    if (device < 0 || device >= DEVICE_COUNT || !drives[device].stopped) return;
    // A signal that ends the run meanwhile must find the old value written,
    // or still to be written by its own way out.
    const signals_held hold;
    polling& p = drives[device];
    if (!p.stopped) return;
    write_whole(p.path, p.value, p.length);
    p.stopped = 0;
}

void restore_all_media_polling() {
    for (int device = 0; device < DEVICE_COUNT; ++device) restore_media_polling(device);
}
