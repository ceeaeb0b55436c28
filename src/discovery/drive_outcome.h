// What became of one drive in a run: one value per drive the host lists,
// set where each thing happens (enumeration, the update procedure, the
// check's judgement) and read by whoever tells it (the record, the check's
// line, the notices at the end, the exit code).
#pragma once

#include <cstdint>
#include <string>

#include "transport/drive_layout.h"

struct command_outcome;

// The drive's fate, the first word of its record.
enum class drive_fate {
    pending,                  // not decided yet: the run has not reached it
    updated,                  // the image runs in it, confirmed after its restart
    up_to_date,               // it holds the image's release already
    update_applies,           // a check: an update would flash it
    declined,                 // the person said No
    failed,                   // an update or its preparation failed
    left_as_is,               // left untouched, for a reason of the moment (a disc, not ready)
    left_in_update_firmware,  // the run's update left it, or may have left it, in its update firmware
    update_firmware,          // found in its update firmware and not updated by this run
    not_this_model,           // its own answers show another model, revision or signature
    unreadable,               // it could not be reached or read
    no_image,                 // a check without the image: the drive alone cannot be judged
    not_visited,              // the run stopped before it
    interrupted,              // the run was ended from outside while it was visited
};

// Why, as a tool sorts by it; each has its word in the record (outcome_reason_word).
enum class outcome_reason {
    none,
    disc_present,              // a disc in the drive
    not_ready,                 // the drive answered not ready
    busy,                      // the drive answered BUSY
    no_answer,                 // a command came back without the drive's answer (lost, timed out)
    cannot_open,               // the system would not open its device
    no_right,                  // this user has no right to open it
    in_use,                    // another program or run holds its device
    identity_unreadable,       // its identity block could not be read
    another_revision,          // hardware revision other than the image's
    another_signature,         // signature other than the image's
    another_vendor,            // update vendor other than the image's, or another maker's drive
    declined,                  // the person said No
    question_not_shown,        // a question could not be shown: nobody answered
    block_refused,             // an image block was refused
    switch_refused,            // the switch into its update firmware failed
    leave_refused,             // the leave command was refused
    not_back_as_itself,        // after its restart it did not show the image's revision as itself
    stays_in_update_firmware,  // it came back in its update firmware pass after pass
    image_refused,             // the image is missing, damaged or not this build's
    image_changed,             // the image file changed during the run
    unknown_error,             // the media check met an answer it cannot place
    found_in_update_firmware,  // found in its update firmware: only an update brings it back
    interrupted,               // the run was ended from outside
    not_visited,               // the run stopped before it
    detached,                  // its name came to lead to a drive not proven to be it: nothing more went to it
};

struct drive_outcome {
    drive_fate fate = drive_fate::pending;
    outcome_reason reason = outcome_reason::none;
    int in_update_firmware = 0;  // 1: it is, or may be, in its update firmware
    std::string message;         // the message the person was shown, in English, fields filled in
    std::string system_error;    // the system's own words for the failed command behind it
    bool sense_known = false;    // the drive answered the failed command with sense:
    uint32_t sense_code = 0;     // key << 16 | ASC << 8 | ASCQ
    int block = -1;              // a refused block: its number (0 first)
    int pass = 0;                // and the pass it was refused in (1 first)
    // The drive's INQUIRY answer as found, and after its update; unread: zeros.
    uint8_t before[INQUIRY_LENGTH] = {};
    uint8_t after[INQUIRY_LENGTH] = {};
};

// What a command that failed says of the drive: detached, not ready, busy,
// or no answer.
outcome_reason reason_of_command(const command_outcome& command);
// `reason`, unless `command` failed because the drive's name no longer leads
// to it: then detached, whatever else went wrong.
outcome_reason unless_detached(outcome_reason reason, const command_outcome& command);
// Keeps in `outcome` the drive's sense for `command`, which failed, when the
// drive answered it with some.
void note_failed_command(drive_outcome& outcome, const command_outcome& command);
