// The Linux host's claim on the machine for one run, in addition to each
// drive's own claim (devices.cpp: the block layer's exclusive open, which the
// kernel enforces for every run, whoever runs it): an exclusive flock on
// /run/odd-fwupdate.lock, which the kernel drops with the process's last
// descriptor, so a killed run leaves the machine free. It lets a second root
// run say "another run" before it opens any drive. The file is root's alone
// (0600): nobody else can open it, so nobody else can hold it and block the
// runs. O_NOFOLLOW refuses a link put in its place; a file there that root
// does not own, or that is no regular file, is nobody's claim. A run that
// cannot open or make the file (not root, /run read-only or missing) goes on
// with the drive claims alone. The file also keeps, while a run has stopped
// the kernel's media polling of a drive, the value to give back
// (media_polling.cpp): it travels with the claim.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/linux/host_state.h"
#include "platform/linux/retrying_calls.h"

namespace linux_host {
namespace {

char run_root[200] = "/run";
bool reads_only_claimed = false;
int claim_fd = -1;
uid_t claim_owner = 0;  // root: /run is root's

constexpr int CLAIM_FLAGS = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
constexpr mode_t CLAIM_MODE = 0600;

// The claim file at `path` opened, made when missing; -1 when this run cannot
// (not root, the folder read-only or missing) or when what is there is not
// root's own regular file. One that others could open (made so before its
// mode was set) is made again: a descriptor opened on it then holds nothing.
int open_claim_file(const char* path) {
    int fd = open_retrying(path, CLAIM_FLAGS | O_CREAT, CLAIM_MODE);
    if (fd < 0) return -1;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != claim_owner) {
        ::close(fd);
        return -1;
    }
    if ((status.st_mode & 07777) == CLAIM_MODE) return fd;
    ::close(fd);
    if ((status.st_mode & 077) != 0 && ::unlink(path) != 0) return -1;
    fd = open_retrying(path, CLAIM_FLAGS | O_CREAT, CLAIM_MODE);
    if (fd < 0) return -1;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != claim_owner || ::fchmod(fd, CLAIM_MODE) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

void locate_run_folder() {
#if defined(ODD_TEST_HOOKS)
    // Test builds only: tests that run side by side each claim a machine of their own.
    const char* root = ::secure_getenv("ODD_RUN_ROOT");
    // The claim there is its owner's, as /run's is root's.
    struct stat folder;
    if (root && *root) {
        std::snprintf(run_root, sizeof run_root, "%s", root);
        if (::stat(root, &folder) == 0) claim_owner = folder.st_uid;
    }
#endif
}

bool run_reads_only() { return reads_only_claimed; }

int claim_descriptor() { return claim_fd; }

int l_claim_machine(int reads_only) {
    reads_only_claimed = reads_only != 0;
    if (claim_fd >= 0) return 0;
    char path[256];
    std::snprintf(path, sizeof path, "%s/odd-fwupdate.lock", run_root);
    const int fd = open_claim_file(path);
    if (fd < 0) return 0;  // the drive claims alone
    if (flock_retrying(fd, LOCK_EX | LOCK_NB) == 0) {
        claim_fd = fd;  // open, and the lock held, until the process ends
        return 0;
    }
    const bool held_by_another = errno == EWOULDBLOCK;
    ::close(fd);
    return held_by_another ? 1 : 0;
}

}  // namespace linux_host
