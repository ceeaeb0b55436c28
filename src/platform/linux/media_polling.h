// The kernel's own media polling of the optical drives (events_poll_msecs of
// /dev/srN's block device in sysfs), which keeps sending commands to a drive
// even in its update firmware: stopped while the updater holds the drive's
// media change notification, and given back its old value when the updater
// lets go or the run ends, however it ends. The value read is also kept in
// the machine's claim file until it is given back, so that after a run that
// could not give it back (SIGKILL) the next run gives back that value, not
// the 0 it finds. A run without the claim file keeps it in memory alone.
#pragma once

// Reads the sysfs root: "/sys"; in a test build ODD_SYSFS_ROOT where the
// environment is trusted (tests use a folder of their own). The shipped file
// reads no environment for it.
void locate_sysfs();
// The sysfs root located.
const char* sysfs_folder();

// Writes 0 for /dev/srN after reading the value to give back. Where sysfs
// cannot be read or written (no such file, not root) nothing changes.
void stop_media_polling(int device);
// Gives /dev/srN's polling back its old value, if it was stopped.
void restore_media_polling(int device);
// The same for every drive; only async-signal-safe calls.
void restore_all_media_polling();
