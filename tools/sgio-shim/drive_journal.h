// The history that lets one emulated drive live on across processes: every
// command a process sends the drive, with the data that went to it, is
// appended to the drive's journal in the state folder (ODD_SGIO_STATE), and
// the next process replays the journal into its fresh drive before it sends
// anything.
#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <string>

#include "emulator/virtual_drive.h"

namespace shim {

// Replays the journal at `path`, if there is one, into `drive` and opens it
// for appending. Returns the descriptor, or -1 with errno set.
int open_journal(const std::string& path, emu::virtual_drive& drive);

// Appends one command sent with `request` to the journal `journal` (-1: none
// kept). A record that cannot be written whole closes the journal and sets
// `journal` to -1: a history with a hole would rebuild another drive.
void append_to_journal(int& journal, const sg_io_hdr_t& request, int direction, uint32_t timeout_ms, uint64_t at_ms);

}  // namespace shim
