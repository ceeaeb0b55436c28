// What each drive's outcome tells, in one place: the words, the notices and
// the exit codes.
#include "entry/drive_outcomes.h"

#include "discovery/enumeration.h"
#include "entry/exit_codes.h"
#include "entry/options.h"
#include "messages/messages.h"
#include "platform/host.h"
#include "transport/transport.h"

namespace {

const char* model_word(outcome_reason reason) {
    switch (reason) {
    case outcome_reason::another_revision: return "not-this-model (hardware revision)";
    case outcome_reason::another_signature: return "not-this-model (signature)";
    default: return "not-this-model (vendor)";
    }
}

}  // namespace

std::string outcome_word(const drive_outcome& outcome, bool check) {
    if (outcome.fate == drive_fate::update_firmware) return "update-firmware";
    if (outcome.in_update_firmware) return check ? "update-firmware" : "left-in-update-firmware";
    switch (outcome.fate) {
    case drive_fate::updated: return "updated";
    case drive_fate::up_to_date: return "up-to-date";
    case drive_fate::update_applies: return "update";
    case drive_fate::declined: return "declined";
    case drive_fate::failed: return "failed";
    case drive_fate::left_as_is: return "left-as-is";
    case drive_fate::left_in_update_firmware: return "left-in-update-firmware";
    case drive_fate::not_this_model: return model_word(outcome.reason);
    case drive_fate::unreadable: return "unreadable";
    case drive_fate::no_image: return "no-image";
    case drive_fate::interrupted: return "interrupted";
    default: return "not-visited";
    }
}

const char* reason_word(outcome_reason reason) {
    switch (reason) {
    case outcome_reason::disc_present: return "disc-present";
    case outcome_reason::not_ready: return "not-ready";
    case outcome_reason::busy: return "busy";
    case outcome_reason::no_answer: return "no-answer";
    case outcome_reason::cannot_open: return "cannot-open";
    case outcome_reason::no_right: return "no-right";
    case outcome_reason::in_use: return "in-use";
    case outcome_reason::identity_unreadable: return "identity-unreadable";
    case outcome_reason::another_revision: return "another-revision";
    case outcome_reason::another_signature: return "another-signature";
    case outcome_reason::another_vendor: return "another-vendor";
    case outcome_reason::declined: return "declined";
    case outcome_reason::question_not_shown: return "question-not-shown";
    case outcome_reason::block_refused: return "block-refused";
    case outcome_reason::switch_refused: return "switch-refused";
    case outcome_reason::leave_refused: return "leave-refused";
    case outcome_reason::not_back_as_itself: return "not-back-as-itself";
    case outcome_reason::stays_in_update_firmware: return "stays-in-update-firmware";
    case outcome_reason::image_refused: return "image-refused";
    case outcome_reason::image_changed: return "image-changed";
    case outcome_reason::unknown_error: return "unknown-error";
    case outcome_reason::found_in_update_firmware: return "found-in-update-firmware";
    case outcome_reason::interrupted: return "interrupted";
    case outcome_reason::not_visited: return "not-visited";
    case outcome_reason::detached: return "detached";
    default: return "";
    }
}

int drive_exit_code(const drive_outcome& outcome) {
    if (outcome.fate == drive_fate::update_firmware || outcome.in_update_firmware) return EXIT_LEFT_IN_UPDATE_FIRMWARE;
    switch (outcome.fate) {
    case drive_fate::updated:
    case drive_fate::up_to_date: return EXIT_UP_TO_DATE;
    case drive_fate::update_applies: return EXIT_UPDATE_APPLIES;
    case drive_fate::not_this_model: return EXIT_NOTHING_HERE;
    case drive_fate::no_image: return EXIT_IMAGE_REFUSED;
    case drive_fate::declined: return EXIT_UPDATE_FAILED;
    case drive_fate::failed:
        return outcome.reason == outcome_reason::image_refused || outcome.reason == outcome_reason::image_changed
                   ? EXIT_IMAGE_REFUSED
                   : EXIT_UPDATE_FAILED;
    case drive_fate::left_as_is:
        return outcome.reason == outcome_reason::question_not_shown ? EXIT_UPDATE_FAILED : EXIT_TRY_AGAIN_LATER;
    // A person must give the right: the host has said which is missing.
    case drive_fate::unreadable:
        return outcome.reason == outcome_reason::no_right ? EXIT_UPDATE_FAILED : EXIT_TRY_AGAIN_LATER;
    default: return EXIT_TRY_AGAIN_LATER;  // not reached yet: for a later run
    }
}

int fleet_exit_code() {
    // Drives the host could not list may be of this model: a person must see why.
    bool this_model = drives_unlisted;
    int code = drives_unlisted ? EXIT_UPDATE_FAILED : EXIT_UP_TO_DATE;
    for (int i = 0; i < listed_count; ++i) {
        const drive_outcome& outcome = listed_drives[i].outcome;
        if (outcome.fate == drive_fate::not_this_model && !outcome.in_update_firmware) continue;
        this_model = true;
        code = more_urgent(code, drive_exit_code(outcome));
    }
    return this_model ? code : EXIT_NOTHING_HERE;
}

std::string listed_drive_name(int listed) {
    const listed_drive& drive = listed_drives[listed];
    if (drive.drive_letter) return format_text("%c:", drive.drive_letter);
    // Behind the ASPI manager a target goes by its number, as the dialogue
    // counts it; any other drive by its address, which no number can match.
    if (drive.target >= 0) return format_text("No.%d", drive.target + 1);
    return format_text("%d:%d", drive.host_adapter, drive.target_id);
}

void tell_drives_not_targets() {
    if (drives_unlisted && (options.check || options.yes)) host::write_notice(notice_text(NOTICE_DRIVES_NOT_LISTED));
    // Numbered for the host after the targets, each drive once.
    int number = target_count;
    for (int i = 0; i < listed_count; ++i) {
        const listed_drive& drive = listed_drives[i];
        if (drive.target >= 0) continue;
        const drive_outcome& outcome = drive.outcome;
        const std::string path = drive_device_path(drive.drive_letter);
        if (outcome.in_update_firmware) {
            host::drive_firmware_state(++number, path.c_str(), 1, notice_text(NOTICE_LEFT_IN_UPDATE_FIRMWARE));
        } else if (outcome.fate == drive_fate::unreadable && !(outcome.reason == outcome_reason::no_right &&
                                                               outcome.system_error.empty())) {
            // A drive refused for a missing right the host names itself.
            char name[64] = {};
            host::device_name(path.c_str(), name, sizeof name);
            host::write_notice(format_text(notice_text(NOTICE_DRIVE_NOT_READ),
                                           name[0] ? name : listed_drive_name(i).c_str(), reason_word(outcome.reason))
                                   .c_str());
        }
    }
}
