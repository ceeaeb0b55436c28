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

// One pass from the switch into update firmware to the judged new revision.
// Returns DRIVE_UPDATED, RUN_STOPPED or STILL_IN_UPDATE_FIRMWARE; `left` gets
// what the drive is noted as when the window closes.
int flash_drive(int& left) {
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
    if (!(update_mode && found_in_update_firmware)) {
        if (enter_update_mode(model_code) != 0) {
            // A switch whose answer was lost may have happened all the same;
            // one the system refused never reached the drive.
            left = last_outcome.drive_answered() || last_outcome.kind == outcome_kind::refused ? 0 : 1;
            return RUN_STOPPED;
        }
        wait_ms(PAUSE_BEFORE_ENTRY_CHECK_MS);
        const int check = check_update_mode();
        if (check != 0) {
            left = left_in_update_firmware(check > 0);
            return RUN_STOPPED;
        }
    }
    // After a refused block the drive's own answer decides; no leave command
    // is sent, and only a pass that sent the whole image and the leave
    // command can have updated the drive.
    const bool image_sent = transfer_image() == 0;
    if (image_sent) settle_wait(leave_update_mode(model_code));

    const int read = report_revision(REVISION_AFTER_UPDATE);
    left = left_in_update_firmware(read == 0);
    if (read != 0) return RUN_STOPPED;
    if (!update_firmware_revision(inquiry_data)) {
        if (image_sent && runs_the_image(found_in_update_firmware ? nullptr : identity)) {
            show_message(MSG_SUCCESS_UPDATED, KIND_CONSOLE);
            return DRIVE_UPDATED;
        }
        // Back in firmware other than the image's (after a refused block or a
        // refused leave command, or with a garbled answer): the update failed,
        // and the technician and the exit code both learn it.
        if (image_sent) show_message(MSG_NORMAL_PART_FAILED, KIND_ERROR);
        return RUN_STOPPED;
    }
    // The Intel driver's drive is told once more to leave its update firmware,
    // but never after a refused block: it would re-flash an incomplete image.
    if (win9x_family == 1 && intel_ide_driver != 0 && image_sent) settle_wait(leave_update_mode(model_code));
    return STILL_IN_UPDATE_FIRMWARE;
}

// The pass the user agreed to, inside the platform's update window. The
// drive is named as in its update firmware before the window opens, so that a
// way out at its first instant still names it. An interrupt held meanwhile
// changes nothing of this drive's result; the run stops before the next one.
int update_with_consent() {
    if (entering_update_window) entering_update_window();
    note_drive_firmware(current_target, 1);
    host::begin_drive_update(drive_device_path(target_table[current_target].drive_letter).c_str());
    int left = 0;
    const int result = flash_drive(left);
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
message_fields update_question_fields() {
    message_fields fields;
    fields.drive_identity = shown_field(inquiry_data + INQUIRY_VENDOR, IDENTIFICATION_WIDTH);
    fields.drive_revision = shown_field(inquiry_data + INQUIRY_REVISION, 5);
    fields.drive_date = shown_field(inquiry_data + question_date_offset(), 8);
    fields.image_identity = shown_field(loaded_header.vendor_product, IDENTIFICATION_WIDTH);
    fields.image_version = shown_field(loaded_header.version_text, 5);
    fields.image_date = shown_field(image_date_text(loaded_header).c_str(), 8);
    return fields;
}

int interrupt_held = 0;
void (*entering_update_window)() = nullptr;
void (*drive_identified)() = nullptr;

void note_drive_firmware(int target, int in_update_firmware) {
    target_table[target].in_update_firmware = in_update_firmware;
    host::drive_firmware_state(target + 1, drive_device_path(target_table[target].drive_letter).c_str(),
                               in_update_firmware, notice_text(NOTICE_LEFT_IN_UPDATE_FIRMWARE));
}

int media_check() {
    stop_unit(target_of(current_target));
    int unit_attentions = 0;
    for (;;) {
        if (test_unit_ready(target_of(current_target)) == 0) {
            show_message(MSG_DISC_INSERTED, KIND_INFO);
            return -1;
        }
        fetch_sense();
        const sense_category sense = last_sense_category();
        if (sense == sense_category::no_medium || sense == sense_category::initializing_required) return 0;
        if (sense == sense_category::becoming_ready) {
            show_message(MSG_BECOMING_READY, KIND_CONSOLE);
            return -1;
        }
        if (sense == sense_category::unit_attention && ++unit_attentions < UNIT_ATTENTIONS_ALLOWED) continue;
        // Unit attention without end falls through to the unknown error.
        // The Intel driver reports an empty drive without any sense; a command
        // that never reached the drive says nothing about a disc.
        if (intel_ide_driver != 0 && sense == sense_category::none && last_outcome.drive_answered()) return 0;
        show_message(MSG_UNKNOWN_ERROR, KIND_CONSOLE);
        return -1;
    }
}

int update_drive(const model_rows& models, int update_all) {
    // A drive that could not be identified has had its message; nothing more is sent to it.
    const int identified = identify_drive(models);
    if (drive_identified) drive_identified();
    if (identified != 0) return DRIVE_LEFT_AS_IS;
    // (An identity block that could not be read was zeroed by its command.)
    note_drive_firmware(current_target, may_run_update_firmware(inquiry_data, drive_info));
    for (int pass = 1;; ++pass) {
        update_mode = 0;
        if (load_image() != 0) {
            message_fields image;
            image.file_name = file_name_in_path(current_release.image_file_name);
            show_message(MSG_IMAGE_NOT_LOADED, KIND_ERROR, image);
            return RUN_STOPPED;
        }
        if (report_revision(REVISION_BEFORE_UPDATE) != 0) return RUN_STOPPED;
        const char* signature = reinterpret_cast<const char*>(drive_info + IDENTITY_SIGNATURE);
        print_text(format_text("\nCurrent Signature = %s", shown_field(signature, IDENTITY_FIELD_WIDTH).c_str()).c_str());
        const int compatible = check_compatibility(FULL_CHECK, update_all);
        if (identity_state != -1) note_drive_firmware(current_target, may_run_update_firmware(inquiry_data, drive_info));
        if (compatible != 0) return compatible == 1 ? DRIVE_UP_TO_DATE : DRIVE_LEFT_AS_IS;
        if (media_check() != 0) return DRIVE_LEFT_AS_IS;
        // Only a Yes flashes the drive; a question that could not be shown ends the run.
        if (update_all == 0) {
            if (const int refused = consent(MSG_UPDATE_QUESTION, update_question_fields())) return refused;
        }
        show_message(MSG_UPDATING, KIND_CONSOLE);
        const int result = update_with_consent();
        if (result != STILL_IN_UPDATE_FIRMWARE) return result;
        // After an interrupt nobody is offered another pass: the drive stays
        // as its pass left it, named as in its update firmware.
        if (pass == PASSES_ALLOWED || interrupt_held) return RUN_STOPPED;
        const int retry = consent(MSG_RETRY_QUESTION);
        if (retry != 0) return retry == DRIVE_DECLINED ? RUN_STOPPED : retry;
    }
}
