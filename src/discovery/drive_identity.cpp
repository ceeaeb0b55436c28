// Owns the drive's identity: its INQUIRY answer, whether it runs its update
// firmware, and the current release (the model row it matches).
#include "discovery/drive_identity.h"

#include <algorithm>
#include <cstring>

#include "discovery/enumeration.h"
#include "discovery/firmware_signs.h"
#include "messages/messages.h"
#include "transport/drive_commands.h"
#include "transport/transport.h"

model_row current_release;
int release_row = 0;
int identity_state = -1;
int update_mode = 0;
uint8_t inquiry_data[INQUIRY_LENGTH];

bool holds_revision_and_date() {
    const uint8_t* revision = inquiry_data + INQUIRY_REVISION;
    const uint8_t* date = inquiry_data + INQUIRY_DATE;
    const bool revision_held = std::find(revision, revision + 4, 0) == revision + 4;
    // The update firmware's date is never read.
    return revision_held && (update_firmware_revision(inquiry_data) || std::find(date, date + 8, 0) == date + 8);
}

int question_date_offset(const uint8_t* inquiry) {
    bool four_digit_year = inquiry[INQUIRY_DATE + 4] == '/' && inquiry[INQUIRY_DATE + 7] == '/';
    return four_digit_year ? INQUIRY_DATE + 2 : INQUIRY_DATE;
}

int identify_drive(const model_rows& models, outcome_reason* why, command_outcome* failed) {
    outcome_reason ignored;
    outcome_reason& reason = why ? *why : ignored;
    reason = outcome_reason::none;
    command_outcome sent = inquiry(target_of(current_target), inquiry_data);
    // An answer too short to hold the revision and the date is no answer:
    // such a drive could never be judged after its update.
    if (!sent.failed() && !holds_revision_and_date()) sent.code = COMMAND_FAILED;
    if (sent.failed()) {
        if (failed) *failed = sent;
        reason = reason_of_command(sent);
        show_message(MSG_INQUIRY_FAILED, KIND_ERROR);
        return sent.code;
    }
    sent = read_drive_info();
    if (sent.failed()) {
        if (failed) *failed = sent;
        reason = unless_detached(outcome_reason::identity_unreadable, sent);
        show_message(MSG_DRIVE_INFO_FAILED, KIND_ERROR);
        return sent.code;
    }
    int row = identify_model(inquiry_data, models);
    if (row < 0) return 0;
    release_row = row;
    current_release = models.first[row];
    return 0;
}

command_outcome read_drive_info() {
    identity_state = -1;
    const command_outcome read =
        read_buffer(target_of(current_target), MODE_DATA, BUFFER_IDENTITY, 0, IDENTITY_LENGTH, drive_info);
    if (read.failed()) return read;
    identity_state = identity_shows_update_firmware(drive_info) ? 1 : 0;
    update_mode = identity_state;
    return read;
}

void reset_drive_identity_state() {
    std::memset(&current_release, 0, sizeof current_release);
    release_row = 0;
    identity_state = -1;
    update_mode = 0;
    std::memset(inquiry_data, 0, sizeof inquiry_data);
}
