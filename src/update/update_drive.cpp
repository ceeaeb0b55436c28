// The update of one drive from identification to the confirmed new revision,
// with the check that no disc is in the drive, the platform's update window
// around each pass from the switch into update firmware to the judged new
// revision, and the retry of a whole pass when the drive comes back still in
// its update firmware.
#include <cstring>

#include "discovery/enumeration.h"
#include "discovery/firmware_signs.h"
#include "image/firmware_image.h"
#include "image/revision_checks.h"
#include "messages/messages.h"
#include "platform/host.h"
#include "platform/wait.h"
#include "transport/drive_commands.h"
#include "transport/transport.h"
#include "update/update.h"

namespace {

constexpr uint32_t PAUSE_BEFORE_ENTRY_CHECK_MS = 1000;
// A drive that reports unit attention this many times in a row is not going
// to settle; its state is unknown.
constexpr int UNIT_ATTENTIONS_ALLOWED = 20;
// A drive that still comes back in its update firmware after this many whole
// passes will not leave it by being sent the image once more.
constexpr int PASSES_ALLOWED = 3;

// A pass that ended with the drive still in its update firmware: the user is
// offered the retry.
constexpr int STILL_IN_UPDATE_FIRMWARE = 2;

// What the drive is noted as, and the platform told, as the window closes: 0 only when the last
// revision read after the switch showed firmware other than the update
// firmware (an answer too short to hold a revision shows none).
int left_in_update_firmware(bool revision_read) {
    const bool other_firmware =
        revision_read && inquiry_data[INQUIRY_REVISION] != 0 && !update_firmware_revision(inquiry_data);
    return other_firmware ? 0 : 1;
}

// Ends a drive's visit as `fate`, for `reason`: returns `result`.
int ends(drive_outcome& outcome, int result, drive_fate fate, outcome_reason reason) {
    outcome.fate = fate;
    outcome.reason = reason;
    return result;
}

// One pass from the switch into update firmware to the judged new revision,
// sending `image`. Returns DRIVE_UPDATED, RUN_STOPPED or
// STILL_IN_UPDATE_FIRMWARE; `left` gets what the drive is noted as when the
// window closes; `outcome` why it failed.
int flash_drive(const loaded_image& image, int& left, drive_outcome& outcome, int pass) {
    const uint32_t model_code = current_release.model_code;
    left = 0;
    // The drive must come back as the drive it is now; one found in its update
    // firmware shows no more than that it is one of this build's.
    const bool found_in_update_firmware = answers_as_update_firmware(inquiry_data);
    uint8_t identity[IDENTIFICATION_WIDTH];
    std::memcpy(identity, inquiry_data + INQUIRY_VENDOR, sizeof identity);
    // The switch is left out only when the identity block and the INQUIRY
    // answer both show the update firmware: a drive that says so in one of
    // them alone could be another run's drive, or be wrong.
    command_outcome failed;
    if (!(update_mode && found_in_update_firmware)) {
        if (enter_update_mode(model_code, &failed) != 0) {
            // A switch whose answer was lost may have happened all the same;
            // one refused before it left never reached the drive.
            left = failed.drive_answered() || failed.kind == outcome_kind::refused ? 0 : 1;
            note_failed_command(outcome, failed);
            return ends(outcome, RUN_STOPPED, drive_fate::failed, outcome_reason::switch_refused);
        }
        wait_ms(PAUSE_BEFORE_ENTRY_CHECK_MS);
        const int check = check_update_mode(&failed);
        if (check != 0) {
            left = left_in_update_firmware(check > 0);
            if (check < 0) note_failed_command(outcome, failed);
            return ends(outcome, RUN_STOPPED, drive_fate::failed,
                        check > 0 ? outcome_reason::switch_refused : reason_of_command(failed));
        }
    }
    // After a refused block the drive's own answer decides; no leave command
    // is sent, and only a pass that sent the whole image and the leave
    // command can have updated the drive.
    int refused_block = -1;
    const bool image_sent = transfer_image(image, &refused_block, &failed) == 0;
    outcome_reason reason = outcome_reason::not_back_as_itself;
    if (!image_sent) {
        note_failed_command(outcome, failed);
        outcome.block = refused_block;
        outcome.pass = pass;
        reason = outcome_reason::block_refused;
    } else {
        const int leave = leave_update_mode(model_code, &failed);
        if (leave != 0) {
            note_failed_command(outcome, failed);
            reason = outcome_reason::leave_refused;
        }
        settle_wait(leave);
    }

    const int read = report_revision(REVISION_AFTER_UPDATE, &failed);
    left = left_in_update_firmware(read == 0);
    if (read != 0) {
        // A drive the run lost sight of is told as such, whatever failed first.
        const outcome_reason unread = reason_of_command(failed);
        if (reason == outcome_reason::not_back_as_itself || unread == outcome_reason::detached) reason = unread;
        return ends(outcome, RUN_STOPPED, drive_fate::failed, reason);
    }
    if (!update_firmware_revision(inquiry_data)) {
        if (image_sent && runs_the_image(found_in_update_firmware ? nullptr : identity)) {
            show_message(MSG_SUCCESS_UPDATED, KIND_CONSOLE);
            return ends(outcome, DRIVE_UPDATED, drive_fate::updated, outcome_reason::none);
        }
        // Back in firmware other than the image's (after a refused block or a
        // refused leave command, or with a garbled answer): the update failed,
        // and the technician and the exit code both learn it.
        if (image_sent) show_message(MSG_NORMAL_PART_FAILED, KIND_ERROR);
        return ends(outcome, RUN_STOPPED, drive_fate::failed, reason);
    }
    // The Intel driver's drive is told once more to leave its update firmware,
    // but never after a refused block: it would re-flash an incomplete image.
    if (win9x_family == 1 && intel_ide_driver != 0 && image_sent) settle_wait(leave_update_mode(model_code));
    if (reason == outcome_reason::not_back_as_itself) reason = outcome_reason::stays_in_update_firmware;
    return ends(outcome, STILL_IN_UPDATE_FIRMWARE, drive_fate::failed, reason);
}

// The pass the user agreed to, inside the platform's update window. The
// drive is named as in its update firmware before the window opens, so that a
// way out at its first instant still names it. An interrupt held meanwhile
// changes nothing of this drive's result; the run stops before the next one.
int update_with_consent(const loaded_image& image, drive_outcome& outcome, int pass) {
    if (entering_update_window) entering_update_window(image);
    note_drive_firmware(current_target, 1);
    host::begin_drive_update(drive_device_path(target_table[current_target].drive_letter).c_str());
    int left = 0;
    const int result = flash_drive(image, left, outcome, pass);
    note_drive_firmware(current_target, left);
    if (host::end_drive_update() != 0) interrupt_held = 1;
    return result;
}

// The answer to question `code` as a result: DRIVE_DECLINED for No,
// RUN_ABANDONED when the question could not be shown, 0 for Yes.
int consent(int code, const message_fields& fields = {}) {
    const int answer = ask(code, fields);
    if (answer == IDYES) return 0;
    return answer == IDNO ? DRIVE_DECLINED : RUN_ABANDONED;
}

}  // namespace

// The update question's fields: the drive as its INQUIRY answer shows it,
// the image as its header does. The text puts "20" before each date: a
// drive date with a four-digit year and a month-name image date are given
// as YY/MM/DD.
message_fields update_question_fields(const image_header& image) {
    message_fields fields;
    fields.drive_identity = shown_field(inquiry_data + INQUIRY_VENDOR, IDENTIFICATION_WIDTH);
    fields.drive_revision = shown_field(inquiry_data + INQUIRY_REVISION, 5);
    fields.drive_date = shown_field(inquiry_data + question_date_offset(), 8);
    fields.image_identity = shown_field(image.vendor_product, IDENTIFICATION_WIDTH);
    fields.image_version = shown_field(image.version_text, 5);
    fields.image_date = shown_field(image_date_text(image).c_str(), 8);
    return fields;
}

int interrupt_held = 0;
void (*entering_update_window)(const loaded_image& image) = nullptr;
void (*drive_identified)(const loaded_image& image) = nullptr;

void note_drive_firmware(int target, int in_update_firmware) {
    target_table[target].in_update_firmware = in_update_firmware;
    outcome_of_target(target).in_update_firmware = in_update_firmware;
    host::drive_firmware_state(target + 1, drive_device_path(target_table[target].drive_letter).c_str(),
                               in_update_firmware, notice_text(NOTICE_LEFT_IN_UPDATE_FIRMWARE));
}

int media_check(outcome_reason* why, command_outcome* failed) {
    outcome_reason ignored;
    outcome_reason& reason = why ? *why : ignored;
    reason = outcome_reason::none;
    stop_unit(target_of(current_target));
    int unit_attentions = 0;
    for (;;) {
        const command_outcome asked = test_unit_ready(target_of(current_target));
        if (!asked.failed()) {
            reason = outcome_reason::disc_present;
            show_message(MSG_DISC_INSERTED, KIND_INFO);
            return -1;
        }
        if (failed) *failed = asked;
        const sense_category sense = asked.sense;
        if (sense == sense_category::no_medium || sense == sense_category::initializing_required) return 0;
        if (sense == sense_category::becoming_ready) {
            reason = outcome_reason::not_ready;
            show_message(MSG_BECOMING_READY, KIND_CONSOLE);
            return -1;
        }
        if (sense == sense_category::unit_attention && ++unit_attentions < UNIT_ATTENTIONS_ALLOWED) continue;
        // Unit attention without end falls through to the unknown error.
        // The Intel driver reports an empty drive without any sense; a command
        // that never reached the drive says nothing about a disc.
        if (intel_ide_driver != 0 && sense == sense_category::none && asked.drive_answered()) return 0;
        reason = asked.drive_answered() ? outcome_reason::unknown_error : reason_of_command(asked);
        show_message(MSG_UNKNOWN_ERROR, KIND_CONSOLE);
        return -1;
    }
}

namespace {

// The visit itself: update_drive without what it notes of every drive.
int visit_drive(const model_rows& models, int update_all, loaded_image& image, drive_outcome& outcome) {
    // A drive that could not be identified has had its message; nothing more is sent to it.
    outcome_reason why = outcome_reason::none;
    command_outcome failed;
    const int identified = identify_drive(models, &why, &failed);
    std::memcpy(outcome.before, inquiry_data, sizeof outcome.before);
    if (drive_identified) drive_identified(image);
    if (identified != 0) {
        note_failed_command(outcome, failed);
        // Only this build's update firmware answers as it does, whatever its identity block.
        if (why == outcome_reason::identity_unreadable && answers_as_update_firmware(inquiry_data))
            return ends(outcome, DRIVE_LEFT_AS_IS, drive_fate::update_firmware, why);
        return ends(outcome, DRIVE_LEFT_AS_IS, drive_fate::unreadable, why);
    }
    // (An identity block that could not be read was zeroed by its command.)
    note_drive_firmware(current_target, may_run_update_firmware(inquiry_data, drive_info));
    for (int pass = 1;; ++pass) {
        update_mode = 0;
        if (load_image(image, &why) != 0) {
            message_fields image;
            image.file_name = file_name_in_path(current_release.image_file_name);
            show_message(MSG_IMAGE_NOT_LOADED, KIND_ERROR, image);
            return ends(outcome, RUN_STOPPED, drive_fate::failed, why);
        }
        if (report_revision(REVISION_BEFORE_UPDATE, &failed) != 0) {
            note_failed_command(outcome, failed);
            return ends(outcome, RUN_STOPPED, drive_fate::failed, reason_of_command(failed));
        }
        const char* signature = reinterpret_cast<const char*>(drive_info + IDENTITY_SIGNATURE);
        print_text(format_text("\nCurrent Signature = %s", shown_field(signature, IDENTITY_FIELD_WIDTH).c_str()).c_str());
        const int compatible = check_compatibility(FULL_CHECK, update_all, &why, &failed);
        if (identity_state != -1) note_drive_firmware(current_target, may_run_update_firmware(inquiry_data, drive_info));
        if (compatible == 1) return ends(outcome, DRIVE_UP_TO_DATE, drive_fate::up_to_date, outcome_reason::none);
        if (compatible != 0) {
            if (why == outcome_reason::identity_unreadable) {
                note_failed_command(outcome, failed);
                return ends(outcome, DRIVE_LEFT_AS_IS, drive_fate::unreadable, why);
            }
            return ends(outcome, DRIVE_LEFT_AS_IS, drive_fate::not_this_model, why);
        }
        if (media_check(&why, &failed) != 0) {
            if (why != outcome_reason::disc_present) note_failed_command(outcome, failed);
            return ends(outcome, DRIVE_LEFT_AS_IS, drive_fate::left_as_is, why);
        }
        // Only a Yes flashes the drive; a question that could not be shown ends the run.
        if (update_all == 0) {
            if (const int refused = consent(MSG_UPDATE_QUESTION, update_question_fields(image.header))) {
                return refused == DRIVE_DECLINED
                           ? ends(outcome, refused, drive_fate::declined, outcome_reason::declined)
                           : ends(outcome, refused, drive_fate::left_as_is, outcome_reason::question_not_shown);
            }
        }
        show_message(MSG_UPDATING, KIND_CONSOLE);
        const int result = update_with_consent(image, outcome, pass);
        if (result != STILL_IN_UPDATE_FIRMWARE) return result;
        // An interrupt held meanwhile waits for the passes the unattended run
        // agreed to in advance, and changes nothing of the drive's result;
        // a person who interrupted is not offered another pass.
        if (pass == PASSES_ALLOWED || (interrupt_held && !unattended())) return RUN_STOPPED;
        const int retry = consent(MSG_RETRY_QUESTION);
        if (retry != 0) {
            if (retry != DRIVE_DECLINED) outcome.reason = outcome_reason::question_not_shown;
            return retry == DRIVE_DECLINED ? RUN_STOPPED : retry;
        }
    }
}

}  // namespace

int update_drive(const model_rows& models, int update_all, loaded_image& image, drive_outcome& outcome) {
    forget_last_message();
    last_failure_words[0] = '\0';
    const int result = visit_drive(models, update_all, image, outcome);
    // Where the drive was not updated, the person was told why: the record says the same.
    if (outcome.fate != drive_fate::updated && outcome.fate != drive_fate::up_to_date &&
        outcome.fate != drive_fate::declined)
        outcome.message = last_message_shown_in_english();
    if (outcome.fate != drive_fate::updated && outcome.fate != drive_fate::up_to_date)
        outcome.system_error = last_failure_words;
    std::memcpy(outcome.after, inquiry_data, sizeof outcome.after);
    outcome.in_update_firmware = target_table[current_target].in_update_firmware;
    if (outcome.in_update_firmware && outcome.fate == drive_fate::failed) outcome.fate = drive_fate::left_in_update_firmware;
    return result;
}
