// The drives this build can update: the target table filled by enumeration
// and model identification.
#pragma once

#include <cstdint>

#include "discovery/drive_outcome.h"
#include "model/drive_model.h"
#include "platform/host.h"
#include "transport/transport.h"

struct target_record {
    int host_adapter;  // ASPI
    int target_id;     // ASPI
    char drive_letter; // pass-through
    int in_update_firmware = 0;  // 1 while the drive runs, or may run, its update firmware
    int listed = -1;             // its place among the drives listed
    int model_row = -1;          // the row of the models it matched when found
};

constexpr int MAX_TARGETS = 256;

// Every optical drive the host lists, in the order met: where it sits, its
// record in the target table when it is one this build updates, and its
// outcome (decided here for a drive that is not: another model, a drive
// that could not be reached or read, one found in its update firmware).
struct listed_drive {
    int host_adapter = -1;   // ASPI
    int target_id = -1;      // ASPI
    char drive_letter = 0;   // pass-through
    int target = -1;         // its record in the target table, or -1
    drive_outcome outcome;
    bool ieee1394 = false;   // its device has no SCSI address: a drive on IEEE 1394
    // Its identity block as enumeration read it (zeros where it could not).
    bool identity_read = false;
    uint8_t identity[IDENTITY_LENGTH] = {};
};
constexpr int MAX_LISTED = MAX_TARGETS;
extern listed_drive listed_drives[MAX_LISTED];
extern int listed_count;
// True when the host could not be asked for all its drives (its working
// buffers not taken, no ASPI manager or host adapter that answers, an
// adapter that refuses requests): a drive may be there unseen.
extern bool drives_unlisted;
// The outcome of the drive in the target table at `target`.
drive_outcome& outcome_of_target(int target);

extern target_record target_table[MAX_TARGETS];
extern int target_count;
extern int current_target;
extern uint8_t drive_info[64];

// Finds the drives of the `models` this build updates.
int enumerate_targets(const model_rows& models);
// Where commands to target `target` go; not known when there is no such target.
command_target target_of(int target);
// Index of the first of `models` the drive matches (INQUIRY data and drive_info), or -1.
int identify_model(const uint8_t* inquiry_data, const model_rows& models);

void reset_enumeration_state();
