// The Linux host's drives: /dev/srN claimed, opened and kept open for the run,
// SG_IO for the pass-through requests, the other storage requests answered as
// Windows answers them, and the CAP_SYS_RAWIO the kernel asks of WRITE BUFFER.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/device_identity.h"
#include "platform/linux/device_map.h"
#include "platform/linux/host_state.h"
#include "platform/linux/media_polling.h"
#include "platform/linux/retrying_calls.h"
#include "platform/linux/sg_io.h"
#include "platform/linux/update_window.h"
#include "platform/storage_queries.h"

// The C library's system call, which it declares nowhere.
extern "C" int capget(cap_user_header_t header, cap_user_data_t data);

namespace linux_host {
namespace {

// Each open of /dev/srN makes the kernel ask the drive for media events and
// TEST UNIT READY, and each last close sends it PREVENT ALLOW MEDIUM REMOVAL.
// A drive in its update firmware should hear nothing but the updater between
// two image blocks, so a drive once opened read-write stays open until the
// process ends and every later CreateFileA hands out the same descriptor.
struct kept_device {
    int fd = -1;
    int flags = 0;
};
kept_device kept_devices[DEVICE_COUNT];
bool refusal_told = false;

// Opening a drive read-write and sending it WRITE BUFFER both need more than a
// desktop user usually has; say so once, however many drives refuse.
void tell_refusal_once(const std::string& line) {
    if (refusal_told) return;
    refusal_told = true;
    tell(line);
}

void tell_refusal(const char* device) { tell_refusal_once(host_line(host_notice::access_refused, device, device)); }

// The kernel passes WRITE BUFFER only with CAP_SYS_RAWIO. True also when the
// capabilities cannot be read: the drive's own refusal then tells.
bool raw_io_allowed() {
    static const bool allowed = [] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (capget(&header, data) != 0) return true;
        return (data[CAP_SYS_RAWIO / 32].effective & (1u << (CAP_SYS_RAWIO % 32))) != 0;
    }();
    return allowed;
}

// Returned by open_device when the name no longer leads to the drive the
// run found there, or nothing tells whether it does.
constexpr int DRIVE_NOT_PROVEN = -2;

// Opens /dev/srN with `flags`, or hands out its kept descriptor; -1 with
// errno, or DRIVE_NOT_PROVEN: then nothing was or will be sent under the name.
// The first open that may command the drive claims it for the run (O_EXCL):
// the kernel then refuses the claim to every other open file, another run's,
// whoever runs it, before its open reaches the drive, and drops it with the
// run's last descriptor, however the run ends. The kept descriptor holds the
// claim; while it does, the run's other opens need none (a second O_EXCL open,
// even the run's own, would be refused). A path-only open asks nothing.
int open_device(open_handle& h, int flags) {
    kept_device& kept = kept_devices[h.device];
    if (kept.fd >= 0 && kept.flags == flags) {
        h.kept = true;
        return kept.fd;
    }
    if (drive_lost(h.device)) return DRIVE_NOT_PROVEN;
    int fd = -1;
    if ((flags & O_PATH) != 0) {
        fd = open_retrying(h.path, flags);
    } else {
        // Opening the drive makes the kernel ask it for media events: the name
        // is proven to lead to the drive found there first, through a path-only
        // descriptor that asks the device nothing, and again through the open one.
        const int probe = open_retrying(h.path, O_PATH | O_CLOEXEC);
        if (probe < 0) return -1;
        const bool again = drive_found(h.device);
        const bool proven = same_drive_as_found(h.device, probe);
        ::close(probe);
        if (proven) fd = kept.fd < 0 ? open_claiming(h.path, flags) : open_retrying(h.path, flags);
        if (!proven || (again && fd >= 0 && !same_drive_as_found(h.device, fd))) {
            if (fd >= 0) ::close(fd);
            note_drive_detached(h.path, host_line(host_notice::not_proven, h.path).c_str());
            return DRIVE_NOT_PROVEN;
        }
    }
    if (fd >= 0 && kept.fd < 0 && (flags & O_PATH) == 0) {
        kept.fd = fd;
        kept.flags = flags;
        h.kept = true;
    }
    return fd;
}

BOOL pass_through(open_handle& h, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size, LPDWORD returned) {
    if (h.kind != open_handle::drive) return fail(ERROR_ACCESS_DENIED);
    if (in == nullptr || out == nullptr || in_size < sizeof(SCSI_PASS_THROUGH_DIRECT) ||
        out_size < sizeof(SCSI_PASS_THROUGH_DIRECT))
        return fail(ERROR_INVALID_PARAMETER);
    auto* block = static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
    if (in != out) std::memmove(out, in, sizeof(SCSI_PASS_THROUGH_DIRECT));

    sg_io_hdr_t request;
    uint8_t sense[SG_SENSE_CAPACITY];
    DWORD error = prepare_sg_io(*block, in_size, out_size, request, sense);
    if (error != ERROR_SUCCESS) return fail(error);
    int done = ioctl_retrying(h.fd, SG_IO, &request);
    if (done < 0 && h.kept && (errno == ENODEV || errno == ENXIO)) {
        // The kept descriptor outlived its device (the drive was detached);
        // the command never left, so it goes to the device attached again
        // under the name, if there is one.
        kept_device& kept = kept_devices[h.device];
        const int flags = kept.flags;
        ::close(kept.fd);
        kept = kept_device{};
        h.kept = false;
        h.fd = open_device(h, flags);
        const int open_error = errno;
        if (h.fd == DRIVE_NOT_PROVEN) return fail(ERROR_DEV_NOT_EXIST);
        note_drive_detached(h.path,
                            host_line(h.fd < 0 ? host_notice::detached : host_notice::came_back, h.path).c_str());
        if (h.fd < 0) return fail_errno(open_error);
        done = ioctl_retrying(h.fd, SG_IO, &request);
    }
    if (done < 0) {
        const int e = errno;
        if (e == EACCES || e == EPERM) tell_refusal(h.path);
        return fail_errno(e);
    }
    error = finish_sg_io(request, *block, out_size);
    if (error != ERROR_SUCCESS) {
        fail(error);
        last_host_status = request.host_status;
        last_driver_status = request.driver_status;
        std::snprintf(last_error_words, sizeof last_error_words, "SG_IO host status 0x%02X, driver status 0x%02X",
                      request.host_status, request.driver_status);
        return FALSE;
    }
    if (returned) *returned = sizeof(SCSI_PASS_THROUGH_DIRECT);
    return TRUE;
}

}  // namespace

HANDLE open_drive(open_handle& h, LPCSTR name, DWORD access) {
    const std::string device = device_for_path(name);
    if (device.empty()) return fail_open(ERROR_FILE_NOT_FOUND);
    h = open_handle{};
    h.device = std::atoi(device.c_str() + 7);
    std::snprintf(h.path, sizeof h.path, "%s", device.c_str());
    // Without the capability no drive can be updated: none is opened to be
    // asked about, and nothing reaches any. A path-only open finds out
    // whether the device is there without opening the drive. A check sends
    // only INQUIRY and READ BUFFER, which the kernel passes to anyone who may
    // open the drive for reading: it opens the drive so, capability or not.
    if ((access & GENERIC_WRITE) && run_reads_only()) access = GENERIC_READ;
    if ((access & GENERIC_WRITE) && !raw_io_allowed()) {
        const int there = open_retrying(h.path, O_PATH | O_CLOEXEC);
        if (there < 0) return fail_open_errno(errno);
        ::close(there);
        tell_refusal_once(host_line(host_notice::no_capability, h.path));
        return fail_open(ERROR_PRIVILEGE_NOT_HELD);
    }
    // A handle without access rights only carries media change requests,
    // which Linux has no use for: it asks nothing of the drive.
    int flags = O_CLOEXEC;
    if (access == 0) flags |= O_PATH;
    else flags |= O_NONBLOCK | ((access & GENERIC_WRITE) ? O_RDWR : O_RDONLY);  // no disc needed
    const int fd = open_device(h, flags);
    if (fd == DRIVE_NOT_PROVEN) return fail_open(ERROR_DEV_NOT_EXIST);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) {
            if (run_reads_only()) tell_refusal_once(host_line(host_notice::read_refused, h.path, h.path));
            else tell_refusal(h.path);
            // A drive is there that this run has no right to: not an absent one.
            return fail_open(ERROR_PRIVILEGE_NOT_HELD, error);
        }
        // Another open file holds the drive's claim: another run, udev's
        // cdrom_id a moment too long, a mounted disc. Nothing of this run reaches it.
        if (error == EBUSY) return fail_open(ERROR_SHARING_VIOLATION, error);
        return fail_open_errno(error);
    }
    h.kind = access == 0 ? open_handle::drive_query : open_handle::drive;
    h.fd = fd;
    return &h;
}

BOOL drive_io_control(open_handle& h, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                      LPDWORD returned) {
    switch (code) {
    case IOCTL_SCSI_GET_CAPABILITIES:
        // Nothing the updater sends is sized by these; they are an ATAPI port's.
        return answer_capabilities(out, out_size, returned) ? TRUE : fail(ERROR_INVALID_PARAMETER);
    case IOCTL_SCSI_GET_ADDRESS:
        // SG_IO reaches the drive by its descriptor; the address only has to
        // exist, since a drive without one is taken for an IEEE 1394 drive.
        return answer_address(static_cast<UCHAR>(h.device), out, out_size, returned) ? TRUE
                                                                                      : fail(ERROR_INVALID_PARAMETER);
    case IOCTL_SCSI_PASS_THROUGH_DIRECT: return pass_through(h, in, in_size, out, out_size, returned);
    case IOCTL_STORAGE_MCN_CONTROL:
        // Linux has no per-handle switch for media change notification; the
        // kernel's own polling of the drive is what stops, where sysfs lets it.
        if (in == nullptr || in_size < sizeof(PREVENT_MEDIA_REMOVAL)) return fail(ERROR_INVALID_PARAMETER);
        if (static_cast<const PREVENT_MEDIA_REMOVAL*>(in)->PreventMediaRemoval) stop_media_polling(h.device);
        else restore_media_polling(h.device);
        if (returned) *returned = 0;
        return TRUE;
    default: return fail(ERROR_INVALID_FUNCTION);
    }
}

void l_drive_serial(const char* path, char* serial, size_t size) {
    if (size == 0) return;
    serial[0] = '\0';
    const std::string device = device_for_path(path);
    if (device.empty()) return;
    char folder[300];
    std::snprintf(folder, sizeof folder, "%s/class/block/%s/device", sysfs_folder(), device.c_str() + 5);
    read_drive_serial(folder, serial, size);
}

void close_kept_devices() {
    for (kept_device& kept : kept_devices) {
        if (kept.fd >= 0) ::close(kept.fd);
        kept = kept_device{};
    }
}

}  // namespace linux_host
