// Stops and gives back the kernel's media polling of each drive. What a
// signal handler may need (the file's path and its old value) is kept in
// fixed buffers, written back with open(2), write(2) and pwrite(2). The value
// to give back travels with the machine's claim: a slot of the claim file
// (machine_claim.cpp) for each drive, which only a run holding the claim
// reads or writes, so a value found there is one a run left that ended
// without giving it back.
#include "platform/linux/media_polling.h"

#include "platform/linux/device_map.h"
#include "platform/linux/host_state.h"
#include "platform/linux/retrying_calls.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct polling {
    char path[256] = {};
    int kept_in = -1;     // the claim file holding the value to give back, -1: none
    char value[24] = {};  // as read, line break included
    size_t length = 0;
    volatile sig_atomic_t stopped = 0;
};
polling drives[DEVICE_COUNT];

// Each drive's slot of the claim file: the value as read, then zeros.
constexpr size_t KEPT_SLOT = 32;
static_assert(sizeof(polling::value) < KEPT_SLOT, "a slot ends with a zero");

char sysfs_root[200] = "/sys";

// Writes `text` as the whole of the existing file at `path`, never through a
// link (sysfs; a plain file too in tests).
bool write_whole(const char* path, const char* text, size_t length) {
    const int fd = open_retrying(path, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const ssize_t written = write_retrying(fd, text, length);
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

// Reads the whole small file at `path` into `text`; its length, or 0.
size_t read_small(const char* path, char* text, size_t capacity) {
    const int fd = open_retrying(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return 0;
    const ssize_t got = ::read(fd, text, capacity - 1);
    ::close(fd);
    return got > 0 ? static_cast<size_t>(got) : 0;
}

bool is_zero(const char* text, size_t length) { return length >= 1 && text[0] == '0' && (length == 1 || text[1] == '\n'); }

off_t slot_of(int device) { return static_cast<off_t>(device) * static_cast<off_t>(KEPT_SLOT); }

// The value kept in `claim` for /dev/srN into `text`; its length, or 0.
size_t read_kept(int claim, int device, char* text, size_t capacity) {
    char slot[KEPT_SLOT] = {};
    if (claim < 0 || ::pread(claim, slot, sizeof slot, slot_of(device)) != static_cast<ssize_t>(sizeof slot)) return 0;
    size_t length = 0;
    while (length + 1 < capacity && slot[length] != '\0') text[length] = slot[length], ++length;
    return length;
}

// Writes `length` bytes of `text` (none: an empty slot) as /dev/srN's slot of `claim`.
bool write_kept(int claim, int device, const char* text, size_t length) {
    char slot[KEPT_SLOT] = {};
    for (size_t i = 0; i < length && i + 1 < sizeof slot; ++i) slot[i] = text[i];
    ssize_t written;
    do written = ::pwrite(claim, slot, sizeof slot, slot_of(device));
    while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(sizeof slot);
}

}  // namespace

void locate_sysfs() {
#if defined(ODD_TEST_HOOKS)
    // Test builds only: tests give each case a sysfs of its own.
    const char* root = ::secure_getenv("ODD_SYSFS_ROOT");
    std::snprintf(sysfs_root, sizeof sysfs_root, "%s", root && *root ? root : "/sys");
#endif
}

const char* sysfs_folder() { return sysfs_root; }

void stop_media_polling(int device) {
    if (device < 0 || device >= DEVICE_COUNT || drives[device].stopped) return;
    const signals_held hold;
    polling& p = drives[device];
    std::snprintf(p.path, sizeof p.path, "%s/class/block/sr%d/events_poll_msecs", sysfs_root, device);
    p.length = read_small(p.path, p.value, sizeof p.value);
    if (p.length == 0) return;
    // A run killed while it held the polling stopped (SIGKILL cannot be
    // caught) left 0 there and the value it read in its claim: that is the
    // value to give back. Any other value now is the machine's own.
    const int claim = linux_host::claim_descriptor();
    char kept[sizeof p.value] = {};
    const size_t kept_length = read_kept(claim, device, kept, sizeof kept);
    if (is_zero(p.value, p.length) && kept_length > 0 && !is_zero(kept, kept_length)) {
        std::memcpy(p.value, kept, kept_length);
        p.length = kept_length;
    }
    // Without the claim file (the run folder read-only or missing) the value
    // lives in this run alone: given back on every way out but SIGKILL.
    p.kept_in = claim >= 0 && write_kept(claim, device, p.value, p.length) ? claim : -1;
    if (write_whole(p.path, "0", 1)) p.stopped = 1;
    else if (p.kept_in >= 0) write_kept(p.kept_in, device, nullptr, 0);  // nothing to give back
}

void restore_media_polling(int device) {
    if (device < 0 || device >= DEVICE_COUNT || !drives[device].stopped) return;
    // A signal that ends the run meanwhile must find the old value written,
    // or still to be written by its own way out.
    const signals_held hold;
    polling& p = drives[device];
    if (!p.stopped) return;
    if (write_whole(p.path, p.value, p.length) && p.kept_in >= 0) write_kept(p.kept_in, device, nullptr, 0);
    p.stopped = 0;
}

void restore_all_media_polling() {
    for (int device = 0; device < DEVICE_COUNT; ++device) restore_media_polling(device);
}
