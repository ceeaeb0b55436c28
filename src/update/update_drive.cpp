// The update of one drive from identification to the confirmed new revision,
// with the check that no disc is in the drive and the retry of a whole pass
// when the drive comes back still in its update firmware.
#include <cstring>

#include "discovery/enumeration.h"
#include "discovery/host_environment.h"
#include "entry/entry.h"
#include "image/firmware_image.h"
#include "image/revision_checks.h"
#include "messages/messages.h"
#include "transport/drive_commands.h"
#include "transport/transport.h"
#include "update/update.h"

namespace {

constexpr uint8_t SENSE_NOT_READY = 0x02;
constexpr uint8_t SENSE_UNIT_ATTENTION = 0x06;
constexpr uint8_t ASC_NO_MEDIUM = 0x3A;
constexpr uint8_t ASC_NOT_READY = 0x04;
constexpr uint8_t ASCQ_BECOMING_READY = 0x01;
constexpr uint8_t ASCQ_INITIALIZING_REQUIRED = 0x02;
constexpr uint32_t SIGNATURE_OFFSET = 24;
constexpr int INQUIRY_REVISION = 32;

constexpr uint32_t PAUSE_BEFORE_ENTRY_CHECK_MS = 1000;
// A drive that reports unit attention this many times in a row is not going
// to settle; its state is unknown.
constexpr int UNIT_ATTENTIONS_ALLOWED = 20;

// True when the drive's revision after its restart is the image's version,
// decoded as the compatibility check decodes revisions.
bool runs_the_image_version() { return decode_version(inquiry_data + INQUIRY_REVISION) == image_version; }

}  // namespace

int media_check() {
    stop_unit();
    int unit_attentions = 0;
    for (;;) {
        if (test_unit_ready(current_target) == 0) {
            show_message(5, KIND_INFO);
            return -1;
        }
        fetch_sense();
        uint8_t key = last_sense[2], asc = last_sense[12], ascq = last_sense[13];
        if (key == SENSE_NOT_READY && asc == ASC_NO_MEDIUM) return 0;
        if (key == SENSE_NOT_READY && asc == ASC_NOT_READY && ascq == ASCQ_INITIALIZING_REQUIRED) return 0;
        if (key == SENSE_NOT_READY && asc == ASC_NOT_READY && ascq == ASCQ_BECOMING_READY) {
            show_message(6, KIND_CONSOLE);
            return -1;
        }
        if (key == SENSE_UNIT_ATTENTION && ++unit_attentions < UNIT_ATTENTIONS_ALLOWED) continue;
        // Unit attention without end falls through to the unknown error.
        // The Intel driver reports an empty drive without any sense; a command
        // that never reached the drive says nothing about a disc.
        if (intel_ide_driver != 0 && last_sense_code == 0 && drive_answered) return 0;
        show_message(7, KIND_CONSOLE);
        return -1;
    }
}

int update_drive() {
    // A drive that could not be identified has had its message; nothing more is sent to it.
    if (identify_drive() != 0) return 1;
    for (;;) {
        update_mode = 0;
        if (load_image() != 0) {
            show_message(11, KIND_ERROR);
            return -1;
        }
        if (report_revision(0) != 0) return -1;
        const char* signature = reinterpret_cast<const char*>(drive_info + SIGNATURE_OFFSET);
        print_text(format_text("\nCurrent Signature = %.8s", signature).c_str());
        if (check_compatibility(1) != 0) return 1;
        if (media_check() != 0) return 1;
        // Only a Yes flashes the drive: a box that could not be shown is no consent.
        if (update_all == 0 && show_message(82, KIND_YES_NO) != IDYES) return IDNO;
        show_message(61, KIND_CONSOLE);

        const uint32_t model_code = current_release.model_code;
        if (!update_mode) {
            if (enter_update_mode(model_code) != 0) return -1;
            wait_ms(PAUSE_BEFORE_ENTRY_CHECK_MS);
            if (check_update_mode() != 0) return -1;
        }
        // After a refused block the drive's own answer decides; no leave command is sent.
        const bool image_sent = transfer_image() == 0;
        if (image_sent) settle_wait(leave_update_mode(model_code));

        if (report_revision(1) != 0) return -1;
        if (std::memcmp(inquiry_data + INQUIRY_REVISION, UPDATE_FIRMWARE_REVISION, 3) != 0) {
            if (runs_the_image_version()) {
                show_message(12, KIND_CONSOLE);
                return 0;
            }
            // Back in firmware other than the image's (after a refused block or a
            // refused leave command, or with a garbled answer): the update failed,
            // and the technician and the exit code both learn it.
            if (image_sent) show_message(42, KIND_ERROR);
            return -1;
        }
        // The Intel driver's drive is told once more to leave its update firmware,
        // but never after a refused block: it would re-flash an incomplete image.
        if (win9x_family == 1 && intel_ide_driver != 0 && image_sent) settle_wait(leave_update_mode(model_code));
        if (show_message(47, KIND_YES_NO) != IDYES) return -1;
    }
}
