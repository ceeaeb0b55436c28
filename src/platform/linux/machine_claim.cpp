// The Linux host's claim on the machine's drives for one run: an exclusive
// flock on /run/odd-fwupdate.lock, which the kernel drops with the process's
// last descriptor, so a killed run leaves the machine free. /run belongs to
// root: only root can create the file there, and O_NOFOLLOW refuses a link
// put in its place. A user who cannot create it opens it read-only, which
// flock allows; when it does not exist and cannot be made, no run as root
// has claimed the machine since it started, and the run goes on unclaimed.
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

}  // namespace

void locate_run_folder() {
#if defined(ODD_TEST_HOOKS)
    // Test builds only: tests that run side by side each claim a machine of their own.
    const char* root = ::secure_getenv("ODD_RUN_ROOT");
    if (root && *root) std::snprintf(run_root, sizeof run_root, "%s", root);
#endif
}

const char* run_folder() { return run_root; }

namespace {
bool reads_only_claimed = false;
}  // namespace

bool run_reads_only() { return reads_only_claimed; }

int l_claim_machine(int reads_only) {
    reads_only_claimed = reads_only != 0;
    char path[256];
    std::snprintf(path, sizeof path, "%s/odd-fwupdate.lock", run_root);
    constexpr int flags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
    int fd = open_retrying(path, flags | O_RDWR | O_CREAT, 0644);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) fd = open_retrying(path, flags | O_RDONLY);
    if (fd < 0) return 0;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return 0;
    }
    if (flock_retrying(fd, LOCK_EX | LOCK_NB) == 0) return 0;  // the descriptor stays open, and the lock held, until the process ends
    const bool held_by_another = errno == EWOULDBLOCK;
    ::close(fd);
    return held_by_another ? 1 : 0;
}

}  // namespace linux_host
