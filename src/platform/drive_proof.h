// Whether a drive's name opened again still leads to the drive the run found
// there, by what the system tells of each without a command to the drive.
#pragma once

#include <string>

struct drive_identity {
    bool known = false;  // the system told where the device sits
    std::string device;  // where: its sysfs device, its storage device number
    std::string serial;  // its serial number as the system holds it ("": none)
};

// True only when both are known and sit at the same place, and their serial
// numbers, where both have one, are the same: a drive in its update firmware
// may give no number, so only two numbers that differ tell drives apart.
inline bool proven_same(const drive_identity& found, const drive_identity& now) {
    return found.known && now.known && found.device == now.device &&
           (found.serial.empty() || now.serial.empty() || found.serial == now.serial);
}
