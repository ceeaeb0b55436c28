// The check of every drive (--check): the drives are found and identified,
// the image is loaded and each drive judged as a run judges it, and one line
// per drive tells what a run would do; without the image, what the drive
// alone shows (its revision, whether it runs its update firmware). Nothing that changes a drive is sent:
// enumeration's INQUIRY and identity READ BUFFER, the same again for each
// drive, and the media change notification enumeration takes and gives back.
#include <cstring>
#include <string>

#include "discovery/enumeration.h"
#include "discovery/firmware_signs.h"
#include "discovery/host_environment.h"
#include "entry/check_run.h"
#include "entry/drive_outcomes.h"
#include "entry/exit_codes.h"
#include "entry/machine_record.h"
#include "entry/options.h"
#include "entry/run_opening.h"
#include "entry/run_log.h"
#include "image/firmware_image.h"
#include "image/revision_checks.h"
#include "messages/messages.h"
#include "platform/host.h"
#include "transport/transport.h"
#include "update/update.h"

namespace {

bool image_loaded = false;  // for the drive being judged

// Ends the judgement of a drive as `fate`, for `reason`.
void judged(drive_outcome& outcome, drive_fate fate, outcome_reason reason = outcome_reason::none) {
    outcome.fate = fate;
    outcome.reason = reason;
}

// What a run would do to the drive at current_target, into `outcome`, with
// `image` as last read, which gets this drive's load.
void judge_drive(loaded_image& image, drive_outcome& outcome) {
    // A drive enumeration found in its update firmware stays that, unreadable or not.
    outcome.in_update_firmware = target_table[current_target].in_update_firmware;
    forget_last_message();
    last_failure_words[0] = '\0';
    outcome_reason why = outcome_reason::none;
    command_outcome failed;
    if (identify_drive(descriptor_rows(), &why, &failed) != 0) {
        note_failed_command(outcome, failed);
        if (why == outcome_reason::identity_unreadable && answers_as_update_firmware(inquiry_data))
            outcome.in_update_firmware = 1;
        return judged(outcome, drive_fate::unreadable, why);
    }
    // What the run would note of it: it may run its update firmware by either
    // answer, until a judgement shows otherwise.
    outcome.in_update_firmware = may_run_update_firmware(inquiry_data, drive_info);
    update_mode = 0;
    image_loaded = load_image(image) == 0;
    if (report_revision(REVISION_BEFORE_UPDATE, &failed) != 0) {
        note_failed_command(outcome, failed);
        return judged(outcome, drive_fate::unreadable, reason_of_command(failed));
    }
    // Without the image the drive is judged by what it alone shows.
    if (!image_loaded) {
        outcome.in_update_firmware = identity_state == 1 && answers_as_update_firmware(inquiry_data) ? 1 : 0;
        return judged(outcome, drive_fate::no_image, outcome_reason::image_refused);
    }
    // A check asks nothing: each drive is judged as one asked about alone.
    const int compatible = check_compatibility(FULL_CHECK, 0, &why, &failed);
    if (why == outcome_reason::identity_unreadable) {
        note_failed_command(outcome, failed);
        return judged(outcome, drive_fate::unreadable, why);
    }
    // Another model's in its update firmware still needs a person, as in a run.
    if (compatible < 0) return judged(outcome, drive_fate::not_this_model, why);
    // Found in its update firmware (both answers say so, as the run judges
    // it): only an update brings it back, and a person is needed.
    outcome.in_update_firmware = compatible != 1 && identity_state == 1 && answers_as_update_firmware(inquiry_data);
    if (compatible == 1) return judged(outcome, drive_fate::up_to_date);
    judged(outcome, drive_fate::update_applies,
           outcome.in_update_firmware ? outcome_reason::found_in_update_firmware : outcome_reason::none);
}

// The drive's line: device, vendor and product, revision and date now, the
// image's version and date (`image`, when the drive was judged by it), and
// the verdict, separated by tabs.
std::string drive_line(int listed, const drive_outcome& outcome, const uint8_t* inquiry, const loaded_image* image) {
    const std::string path = drive_device_path(listed_drives[listed].drive_letter);
    std::string device = listed_drive_name(listed);
    char name[64] = {};
    host::device_name(path.c_str(), name, sizeof name);
    if (name[0] != '\0') device += std::string(" ") + name;
    const bool shown = image != nullptr && image->has_bytes();
    return format_text("%s\t%s\t%s %s\t%s %s\t%s\n", device.c_str(),
                       shown_field(inquiry + INQUIRY_VENDOR, IDENTIFICATION_WIDTH).c_str(),
                       shown_field(inquiry + INQUIRY_REVISION, 4).c_str(),
                       shown_field(inquiry + question_date_offset(inquiry), 8).c_str(),
                       shown ? shown_field(image->header.version_text, 4).c_str() : "",
                       shown ? shown_field(image_date_text(image->header).c_str(), 8).c_str() : "",
                       outcome_word(outcome, true).c_str());
}

}  // namespace

int check_run() {
    silence_console(true);
    if (const int refused = begin_run()) {
        silence_console(false);
        return refused;
    }
    tell_drives_not_targets();
    bool image_missing = false;
    // The image as the last drive judged read it, which the record tells.
    loaded_image image;
    for (int i = 0; i < listed_count; ++i) {
        const listed_drive& drive = listed_drives[i];
        std::string line;
        if (drive.target < 0) {
            // Another maker's drive, or another model's, is no concern of a check.
            if (drive.outcome.fate == drive_fate::not_this_model) continue;
            line = drive_line(i, drive.outcome, drive.outcome.before, nullptr);
        } else {
            current_target = drive.target;
            image_loaded = true;
            drive_outcome& outcome = outcome_of_target(current_target);
            judge_drive(image, outcome);
            // A drive in its update firmware is named when the run ends, as every run names it.
            if (outcome.in_update_firmware)
                host::drive_firmware_state(current_target + 1, drive_device_path(drive.drive_letter).c_str(), 1,
                                           notice_text(NOTICE_LEFT_IN_UPDATE_FIRMWARE));
            outcome.system_error = last_failure_words;
            std::memcpy(outcome.before, inquiry_data, sizeof outcome.before);
            image_missing = image_missing || !image_loaded;
            log_check(outcome, image);
            line = drive_line(i, outcome, inquiry_data, image_loaded ? &image : nullptr);
        }
        host::write_console(line.data(), line.size());
    }
    int result = fleet_exit_code();
    // The record is of the machine as the check saw it; one that could not
    // be written ends the run as an error.
    if (!options.record.empty() && write_machine_record(options.record.c_str(), image) != 0) result = 1;
    release_host_environment();
    silence_console(false);
    if (result == EXIT_NOTHING_HERE && target_count == 0) host::write_notice(notice_text(NOTICE_NO_DRIVE));
    if (image_missing && !image_refused_at_opening)
        host::write_notice(format_text(notice_text(NOTICE_IMAGE_NOT_LOADED), current_release.image_file_name).c_str());
    return result;
}
