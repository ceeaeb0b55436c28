// Owns the drive's decoded date, revision and OEM class: the revision lines
// before and after an update, and the checks that decide whether the loaded
// image may go into the drive at current_target.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "discovery/enumeration.h"
#include "discovery/firmware_signs.h"
#include "image/firmware_image.h"
#include "image/revision_checks.h"
#include "messages/messages.h"
#include "model/drive_model.h"
#include "platform/wait.h"
#include "transport/drive_commands.h"
#include "transport/transport.h"

uint32_t drive_date = 0;
uint16_t drive_revision = 0;

namespace {

constexpr int DATE_TEXT_LONGEST = 10;

// A drive whose INQUIRY fails right after its re-flash gets this many more tries.
constexpr int RESTART_INQUIRY_RETRIES = 6;
constexpr uint32_t RESTART_INQUIRY_WAIT_MS = 3000;

bool same_text(const void* field, const void* text) { return std::memcmp(field, text, IDENTITY_FIELD_WIDTH) == 0; }

// A signature or update vendor the drive may carry whatever the image says.
bool accepted(const uint8_t* field, const uint8_t* image_text) {
    for (const char* anywhere : SIGNATURES_ANY_IMAGE_ACCEPTS)
        if (same_text(field, anywhere)) return true;
    return same_text(field, image_text);
}

bool short_date_form() { return inquiry_data[INQUIRY_DATE + 2] == '/' && inquiry_data[INQUIRY_DATE + 5] == '/'; }

// The date text from byte 37 as 0x20YYMMDD in either form; 0 unless year, month
// and day all convert. The text carries no terminator, so it is read from a
// bounded copy that ends inside the INQUIRY data. The four-digit-year form is
// read as the drives write it, with scanf's "%04x/%02x/%02x", so "2008/7/25"
// is 25 July 2008.
uint32_t scan_drive_date(bool short_form) {
    char text[DATE_TEXT_LONGEST + 1] = {};
    std::memcpy(text, inquiry_data + INQUIRY_DATE, DATE_TEXT_LONGEST);
    uint32_t date = 0;
    if (short_form) return scan_short_date(reinterpret_cast<const uint8_t*>(text), &date) == 0 ? date : 0;
    unsigned year = 0, month = 0, day = 0;
    if (std::sscanf(text, "%04x/%02x/%02x", &year, &month, &day) != 3) return 0;
    return (year & 0xFFFF) << 16 | (month & 0xFF) << 8 | (day & 0xFF);
}

int oem_class(const uint8_t* identity) {
    const uint8_t* signature = identity + IDENTITY_SIGNATURE;
    if (same_text(signature, GENERIC_SIGNATURE) && std::memcmp(identity + IDENTITY_HARDWARE_REVISION, "SCSI", 4) == 0)
        return OEM_CLASS_SCSI_GENERAL;
    for (const oem_class_row& row : OEM_CLASSES)
        if (same_text(signature, row.signature)) return row.oem_class;
    return -1;
}

void print_revision_line(const char* format, size_t date_width) {
    print_text(format_text(format, shown_field(inquiry_data + INQUIRY_VENDOR, IDENTIFICATION_WIDTH).c_str(),
                           shown_field(inquiry_data + INQUIRY_REVISION, 5).c_str(),
                           shown_field(inquiry_data + INQUIRY_DATE, date_width).c_str())
                   .c_str());
}

// The drive's date as the current revision line decodes it: the update
// firmware's own date is not the release's.
uint32_t decoded_drive_date() {
    if (!short_date_form()) return scan_drive_date(false);
    return update_firmware_revision(inquiry_data) ? 0 : scan_drive_date(true);
}

// The rule by which a drive needs no update: neither its date nor its revision is older than the image's.
bool up_to_date(uint32_t date, uint16_t revision) { return date >= image_date && revision >= image_version; }

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

uint8_t blank_as_zero(uint8_t c) { return c == ' ' ? 0 : c; }

// The INQUIRY data's vendor and product are `identity`, or with null one of
// those this build updates.
bool shows_identity(const uint8_t* identity) {
    const uint8_t* shown = inquiry_data + INQUIRY_VENDOR;
    if (identity != nullptr) return std::memcmp(shown, identity, IDENTIFICATION_WIDTH) == 0;
    for (const char* fixed : FIXED_IDENTIFICATIONS)
        if (std::memcmp(shown, fixed, IDENTIFICATION_WIDTH) == 0) return true;
    return std::memcmp(shown, current_release.vendor_id, VENDOR_WIDTH) == 0 &&
           std::memcmp(shown + VENDOR_WIDTH, current_release.product_id, PRODUCT_WIDTH) == 0;
}

}  // namespace

int report_revision(int mode, command_outcome* failed) {
    drive_date = 0;
    command_outcome asked = inquiry(target_of(current_target), inquiry_data);
    // A drive still re-flashing after the settle wait does not answer yet, on
    // any route; it is given the time the Intel driver's route always needed.
    if (asked.failed() && mode == REVISION_AFTER_UPDATE) {
        for (int i = 0; i < RESTART_INQUIRY_RETRIES && asked.failed(); ++i) {
            wait_ms(RESTART_INQUIRY_WAIT_MS);
            asked = inquiry(target_of(current_target), inquiry_data);
        }
    }
    if (asked.failed()) {
        if (failed) *failed = asked;
        show_message(MSG_INQUIRY_FAILED, KIND_CONSOLE);
        return asked.code;
    }

    if (mode == REVISION_AFTER_UPDATE) {
        bool dvd_rw = std::memcmp(inquiry_data + INQUIRY_PRODUCT, "DVD-RW", 6) == 0;
        print_revision_line(dvd_rw ? "\nNew Revision    >> %.24s %.5s %.8s" : "\nNew Revision    >> %.24s %.5s %.10s",
                            dvd_rw ? 8 : DATE_TEXT_LONGEST);
        return 0;
    }
    // What cannot be told from this answer is never judged, and such a drive
    // is not switched into its update firmware.
    if (!holds_revision_and_date()) {
        asked.code = COMMAND_FAILED;
        if (failed) *failed = asked;
        show_message(MSG_INQUIRY_FAILED, KIND_CONSOLE);
        return COMMAND_FAILED;
    }
    if (short_date_form()) {
        print_revision_line("\nCurrent Revision>> %.24s %.5s %.8s", 8);
    } else {
        print_revision_line("\nCurrent Revision>> %.24s %.5s %.10s", DATE_TEXT_LONGEST);
    }
    drive_date = decoded_drive_date();
    drive_revision = decode_version(inquiry_data + INQUIRY_REVISION);
    return 0;
}

bool runs_the_image(const uint8_t* identity) {
    const uint8_t* revision = inquiry_data + INQUIRY_REVISION;
    const bool well_formed = is_digit(revision[0]) && revision[1] == '.' && is_digit(revision[2]) && is_digit(revision[3]);
    if (!well_formed || !holds_revision_and_date() || !shows_identity(identity)) return false;
    const uint8_t* version = loaded_header.version_text;
    for (int i = 0; i < 5; ++i)
        if (blank_as_zero(revision[i]) != blank_as_zero(version[i])) return false;
    return image_date != 0 && decoded_drive_date() == image_date;
}

int check_compatibility(int full, int update_all, outcome_reason* why, command_outcome* failed) {
    outcome_reason ignored;
    outcome_reason& reason = why ? *why : ignored;
    reason = outcome_reason::none;
    const command_outcome read = read_drive_info();
    if (read.failed()) {
        if (failed) *failed = read;
        reason = outcome_reason::identity_unreadable;
        show_message(MSG_DRIVE_INFO_FAILED, KIND_ERROR);
        return read.code;
    }
    if (!same_text(drive_info + IDENTITY_HARDWARE_REVISION, loaded_header.hardware_revision)) {
        reason = outcome_reason::another_revision;
        show_message(MSG_HARDWARE_REVISION_MISMATCH, KIND_ERROR);
        return -1;
    }
    if (!accepted(drive_info + IDENTITY_SIGNATURE, loaded_header.vendor)) {
        reason = outcome_reason::another_signature;
        show_message(MSG_KERNEL_MODEL_MISMATCH, KIND_ERROR);
        return -1;
    }
    if (full == 0 || identity_state == 1) return 0;
    if (!accepted(drive_info + IDENTITY_UPDATE_VENDOR, loaded_header.second_vendor)) {
        reason = outcome_reason::another_vendor;
        show_message(MSG_NORMAL_MODEL_MISMATCH, KIND_ERROR);
        return -1;
    }
    if (up_to_date(drive_date, drive_revision)) {
        show_message(MSG_ALREADY_LATEST, update_all == 1 ? KIND_CONSOLE : KIND_INFO);
        return 1;
    }
    oem_code = oem_class(drive_info);
    return 0;
}

void reset_revision_checks_state() {
    drive_date = 0;
    drive_revision = 0;
}
