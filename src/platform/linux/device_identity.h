// Which drive a /dev/srN descriptor leads to, as the system tells it without
// a command: the drive the run found under each name, and whether a later
// open of that name still reaches it.
#pragma once

#include <cstddef>

namespace linux_host {

// The serial number in the unit serial number page the kernel read when it
// found the drive (sysfs `vpd_pg80` in `device_folder`); empty when none.
void read_drive_serial(const char* device_folder, char* serial, size_t size);

// The first open of /dev/srN in the run (`fd`, an open of device N) takes
// the drive's identity: the sysfs device behind the node (its SCSI address,
// or for a drive on USB its port path and LUN, since a drive plugged again
// gets a new SCSI host) and its serial number. Every later open must lead to
// that drive: true when it is proven so; false when another drive answers to
// the name or nothing tells which (no sysfs device, on either side), and
// from then on the name is lost for the run (`drive_lost`).
bool same_drive_as_found(int device, int fd);
bool drive_lost(int device);
// True once device N's identity was taken.
bool drive_found(int device);

}  // namespace linux_host
