// What the drive runs now and after the update, and whether this image may go
// into this drive.
#pragma once

#include <cstdint>

#include "discovery/drive_outcome.h"

extern uint32_t drive_date;
extern uint16_t drive_revision;

// The two revision lines.
constexpr int REVISION_BEFORE_UPDATE = 0;  // "Current Revision": also decodes drive_date and drive_revision
constexpr int REVISION_AFTER_UPDATE = 1;   // "New Revision", after the restart
// Prints the drive's revision line of `mode`. 0, or the failing INQUIRY's
// code with its outcome in `failed` (when given).
int report_revision(int mode, command_outcome* failed = nullptr);
// 0 the update may go on, 1 the drive is up to date, -1 refused, else the
// failing identity read's code. With `full` 0 it ends after the signature.
// With `update_all` 1 (every drive agreed to at once) a drive up to date is
// told on the console only, otherwise in a box too.
// `why`, when given, gets why a drive was refused or could not be judged,
// and `failed` the outcome of the identity read that failed.
constexpr int FULL_CHECK = 1;
int check_compatibility(int full, int update_all, outcome_reason* why = nullptr, command_outcome* failed = nullptr);

// True when the INQUIRY data, read after the drive's restart, shows the drive
// running the loaded image: vendor and product `identity` (24 bytes; null:
// any this build updates), a well-formed revision (digit, point, two digits)
// with its fifth character that is the image's version text (a blank and a
// zero byte alike), and the image's date.
bool runs_the_image(const uint8_t* identity);

void reset_revision_checks_state();
