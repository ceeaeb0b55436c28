// What the emulated ASPI manager's drives hold, written to a folder where a
// test outside the emulated Windows reads it:
//   drives.txt            one line per drive: address, reported revision,
//                         update mode, re-flash count, flashed bytes, commands
//   drive_A_T.bin         the image drive (A, T) last re-flashed itself with
//   drive_A_T.log         every command the drive received, one per line
//   error.txt             why the manager could not start (only then)
#pragma once

#include <string>
#include <vector>

#include "platform/sim/sim_host.h"

namespace aspi_emu {

// Rewrites drives.txt and every drive's log; the .bin of a drive only when
// `with_images` is set. Returns false when a file cannot be written.
bool write_drive_report(const std::string& folder, const std::vector<sim::drive_slot>& drives, bool with_images);

bool write_error_report(const std::string& folder, const std::string& reason);

}  // namespace aspi_emu
