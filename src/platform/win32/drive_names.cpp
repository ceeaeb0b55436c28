// The drives the run opened by their letters, each known by what Windows
// tells of it without a command: its storage device number, its SCSI
// address and the serial number the port driver holds.
#include "platform/win32/drive_names.h"

#include <winioctl.h>
#include <ntddscsi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/drive_proof.h"

namespace {

struct found_letter {
    bool taken = false;
    bool gone_seen = false;  // a call said the device went away since
    bool lost = false;
    drive_identity first;
};
found_letter letters[26];

// The drive handles open now, by the letter they were opened by.
struct open_drive {
    HANDLE handle = INVALID_HANDLE_VALUE;
    int letter = -1;
};
open_drive open_drives[8];

// The letter's index for "\\.\X:", or -1 for any other name.
int letter_of(LPCSTR name) {
    if (name == nullptr || std::strlen(name) != 6 || std::strncmp(name, "\\\\.\\", 4) != 0 || name[5] != ':') return -1;
    // By hand: Windows 95's C runtime has no toupper to import.
    const char letter = name[4] >= 'a' && name[4] <= 'z' ? static_cast<char>(name[4] - 'a' + 'A') : name[4];
    return letter >= 'A' && letter <= 'Z' ? letter - 'A' : -1;
}

// ERROR_NO_SUCH_DEVICE, which not every SDK's headers name.
constexpr DWORD NO_SUCH_DEVICE = 433;

bool went_away(DWORD error) {
    return error == ERROR_DEV_NOT_EXIST || error == ERROR_DEVICE_NOT_CONNECTED || error == NO_SUCH_DEVICE ||
           error == ERROR_DEVICE_REMOVED || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// What the port and class drivers hold of the drive; none of it asks the drive.
drive_identity identity_of(HANDLE handle) {
    drive_identity id;
    STORAGE_DEVICE_NUMBER number{};
    SCSI_ADDRESS address{};
    DWORD returned = 0;
    if (!::DeviceIoControl(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &returned,
                           nullptr))
        return id;
    char where[64];
    std::snprintf(where, sizeof where, "%lu:%lu", static_cast<unsigned long>(number.DeviceType),
                  static_cast<unsigned long>(number.DeviceNumber));
    id.device = where;
    if (::DeviceIoControl(handle, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address, &returned, nullptr)) {
        std::snprintf(where, sizeof where, " %u:%u:%u:%u", address.PortNumber, address.PathId, address.TargetId,
                      address.Lun);
        id.device += where;
    }
    id.known = true;
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    alignas(8) char answer[1024] = {};
    const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(answer);
    if (::DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer, sizeof answer - 1,
                          &returned, nullptr) &&
        returned >= sizeof *descriptor && descriptor->SerialNumberOffset != 0 &&
        descriptor->SerialNumberOffset < returned) {
        id.serial = answer + descriptor->SerialNumberOffset;
        id.serial.erase(0, id.serial.find_first_not_of(' '));
        id.serial.erase(id.serial.find_last_not_of(' ') + 1);
    }
    return id;
}

// Where the system tells nothing of the drive, only a call that said the
// device went away leaves its next open unproven.
bool proven(found_letter& found, HANDLE handle) {
    const drive_identity now = identity_of(handle);
    if (!found.taken) {
        found.taken = true;
        found.first = now;
        return true;
    }
    if (!found.first.known && !now.known) return !found.gone_seen;
    return proven_same(found.first, now);
}

}  // namespace

HANDLE open_proven(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE template_file) {
    const int letter = access == 0 ? -1 : letter_of(name);
    found_letter* found = letter < 0 ? nullptr : &letters[letter];
    if (found != nullptr && found->lost) {
        ::SetLastError(ERROR_DEV_NOT_EXIST);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle = ::CreateFileA(name, access, share, security, disposition, flags, template_file);
    if (found == nullptr) return handle;
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (found->taken && went_away(error)) found->gone_seen = true;
        ::SetLastError(error);
        return handle;
    }
    if (!proven(*found, handle)) {
        found->lost = true;
        ::CloseHandle(handle);
        ::SetLastError(ERROR_DEV_NOT_EXIST);
        return INVALID_HANDLE_VALUE;
    }
    for (open_drive& open : open_drives)
        if (open.handle == INVALID_HANDLE_VALUE) {
            open = {handle, letter};
            break;
        }
    return handle;
}

void note_failed_call(HANDLE handle, DWORD error) {
    if (!went_away(error)) return;
    for (const open_drive& open : open_drives)
        if (open.handle == handle && open.handle != INVALID_HANDLE_VALUE) letters[open.letter].gone_seen = true;
}

void forget_handle(HANDLE handle) {
    for (open_drive& open : open_drives)
        if (open.handle == handle) open = open_drive{};
}
