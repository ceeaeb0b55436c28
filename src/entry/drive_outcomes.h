// What each drive's outcome tells: its words in the record and on the
// check's line, the notices about it, and the exit code it gives a
// deployment tool; the run's exit code from all of them.
#pragma once

#include <string>

#include "discovery/drive_outcome.h"

// The drive's word: a check's verdict ("update", "update-firmware") or a
// run's result ("updated", "left-in-update-firmware").
std::string outcome_word(const drive_outcome& outcome, bool check);
// The reason's word ("disc-present"); empty for none.
const char* reason_word(outcome_reason reason);
// The exit code the drive alone gives a run with --check or --yes.
int drive_exit_code(const drive_outcome& outcome);
// The run's exit code with --check or --yes: the most urgent of the drives
// of this model (every drive listed but those another model's answers show),
// and 4 when there is none.
int fleet_exit_code();
// The name a drive is told by: its letter ("E:"); behind the ASPI manager a
// target's number ("No.2"), another drive's adapter and id ("0:1").
std::string listed_drive_name(int listed);
// Tells the person at the machine of every listed drive that is not a
// target and could not be read, or is in its update firmware: one line each
// on standard error (the latter when the run ends, however it ends).
void tell_drives_not_targets();
