// The drive at current_target as it identifies itself: its INQUIRY answer, its
// identity block (read into drive_info), whether it runs its update firmware,
// and the model row of this build it matches, made the current release.
#pragma once

#include <cstdint>

#include "discovery/drive_outcome.h"
#include "model/drive_model.h"
#include "transport/drive_layout.h"

extern model_row current_release;
extern int release_row;
extern int identity_state;  // -1 read failed, 1 update firmware, 0 normal firmware
extern int update_mode;     // 1 while the drive is known to run its update firmware
extern uint8_t inquiry_data[INQUIRY_LENGTH];

// Identification of the drive at current_target: INQUIRY, the identity block,
// and the matching row of `models` made the current release. 0 also when no
// row matches (the release stays as it was), else the failing command's code,
// with `why` (when given) telling what could not be read and `failed` (when
// given) the outcome of the command that failed.
int identify_drive(const model_rows& models, outcome_reason* why = nullptr, command_outcome* failed = nullptr);
// Reads the identity block into drive_info and sets identity_state and
// update_mode: the READ BUFFER's outcome.
command_outcome read_drive_info();
// True when the INQUIRY data holds a revision and, unless it is the update
// firmware's, a date: an answer too short for them leaves zeros there.
bool holds_revision_and_date();
// Where the INQUIRY date text starts when shown after "20": byte 39 for a
// four-digit year (so "2008/07/25" shows whole), byte 37 otherwise.
// `inquiry` is the INQUIRY answer it reads, the current drive's unless given.
int question_date_offset(const uint8_t* inquiry = inquiry_data);

void reset_drive_identity_state();
