// The identity of each drive the run opened, kept from its first open, and
// the proof asked of every later open of its name: a drive detached during
// the run may come back under its name, or another drive may take the name.
#include "platform/linux/device_identity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/drive_proof.h"
#include "platform/linux/device_map.h"
#include "platform/linux/media_polling.h"
#include "platform/linux/retrying_calls.h"

namespace linux_host {
namespace {

struct found_drive {
    bool taken = false;
    bool lost = false;
    drive_identity first;
};
found_drive found[DEVICE_COUNT];

// A USB interface in a sysfs path: "1-1:1.0", "3-2.4:1.0" (bus-ports:configuration.interface).
bool usb_interface(const std::string& name) {
    const size_t colon = name.find(':');
    const size_t dash = name.find('-');
    if (colon == std::string::npos || dash == std::string::npos || dash == 0 || dash > colon) return false;
    const auto digits_and = [](const std::string& text, const char* also) {
        return !text.empty() && std::all_of(text.begin(), text.end(), [also](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) || std::strchr(also, c) != nullptr;
        });
    };
    return digits_and(name.substr(0, dash), "") && digits_and(name.substr(dash + 1, colon - dash - 1), ".") &&
           digits_and(name.substr(colon + 1), ".");
}

// The sysfs device as compared: the whole path (bus, host, SCSI address),
// but for a drive on USB the interface's path and the LUN alone, since the
// same drive plugged again into the same port gets a new SCSI host.
std::string device_key(const std::string& path) {
    size_t interface_end = std::string::npos;
    for (size_t start = 0; start < path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (usb_interface(path.substr(start, end - start))) interface_end = end;
        start = end + 1;
    }
    if (interface_end == std::string::npos) return path;
    const size_t last = path.find_last_of(':');
    return path.substr(0, interface_end) + "/lun" + (last == std::string::npos ? "" : path.substr(last + 1));
}

drive_identity identity_of(int fd) {
    drive_identity id;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISBLK(status.st_mode)) return id;
    char link[300];
    std::snprintf(link, sizeof link, "%s/dev/block/%u:%u/device", sysfs_folder(), major(status.st_rdev),
                  minor(status.st_rdev));
    char real[PATH_MAX];
    if (::realpath(link, real) == nullptr) return id;
    id.known = true;
    id.device = device_key(real);
    char serial[64];
    read_drive_serial(real, serial, sizeof serial);
    id.serial = serial;
    return id;
}

}  // namespace

void read_drive_serial(const char* device_folder, char* serial, size_t size) {
    if (size == 0) return;
    serial[0] = '\0';
    char file[PATH_MAX + 16];
    std::snprintf(file, sizeof file, "%s/vpd_pg80", device_folder);
    const int fd = open_retrying(file, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    unsigned char page[260];
    const ssize_t got = ::read(fd, page, sizeof page);
    ::close(fd);
    // A 4-byte header (page 0x80, its length), then the number.
    if (got < 4 || page[1] != 0x80) return;
    size_t length = std::min<size_t>(static_cast<size_t>(page[2]) << 8 | page[3], static_cast<size_t>(got) - 4);
    const unsigned char* text = page + 4;
    while (length > 0 && (*text == ' ' || *text == '\0')) ++text, --length;
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\0')) --length;
    std::snprintf(serial, size, "%.*s", static_cast<int>(length), reinterpret_cast<const char*>(text));
}

bool same_drive_as_found(int device, int fd) {
    if (device < 0 || device >= DEVICE_COUNT) return false;
    found_drive& drive = found[device];
    if (drive.lost) return false;
    if (!drive.taken) {
        drive.taken = true;
        drive.first = identity_of(fd);
        return true;
    }
    const bool same = proven_same(drive.first, identity_of(fd));
    drive.lost = !same;
    return same;
}

bool drive_lost(int device) { return device >= 0 && device < DEVICE_COUNT && found[device].lost; }

bool drive_found(int device) { return device >= 0 && device < DEVICE_COUNT && found[device].taken; }

}  // namespace linux_host
