// Which drive each letter (\\.\X:) the run opens a drive by leads to: the
// drive found there at the run's first open, and the proof asked of every
// later open, since the updater opens the drive anew for every command.
#pragma once

#include <windows.h>

// CreateFileA, but an open of a drive's letter that may command it must
// reach the drive the run found there: where the letter leads to a drive not
// proven to be it, nothing is opened (ERROR_DEV_NOT_EXIST), then and at every
// later open of the letter.
HANDLE open_proven(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE template_file);
// A call on `handle` failed with `error`: where it says the device went away,
// the drive's next open must be proven by what the system tells, however
// little that is.
void note_failed_call(HANDLE handle, DWORD error);
void forget_handle(HANDLE handle);
