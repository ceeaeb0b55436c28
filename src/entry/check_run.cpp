// The check of every drive (--check): the drives are found and identified,
// the image is loaded and each drive judged as a run judges it, and one line
// per drive tells what a run would do; without the image, what the drive
// alone shows (its revision, whether it runs its update firmware). Nothing that changes a drive is sent:
// enumeration's INQUIRY and identity READ BUFFER, the same again for each
// drive, and the media change notification enumeration takes and gives back.
#include <string>

#include "discovery/enumeration.h"
#include "discovery/firmware_signs.h"
#include "discovery/host_environment.h"
#include "entry/check_run.h"
#include "entry/exit_codes.h"
#include "entry/run_opening.h"
#include "entry/run_log.h"
#include "image/firmware_image.h"
#include "image/revision_checks.h"
#include "messages/messages.h"
#include "platform/host.h"
#include "transport/transport.h"
#include "update/update.h"

namespace {

// What a run would do to the drive at current_target, and what that tells
// a deployment tool.
struct verdict {
    std::string word;
    int exit_code = EXIT_UP_TO_DATE;
};

bool image_loaded = false;  // for the drive being judged

verdict judge_drive() {
    // A drive enumeration found in its update firmware stays that, unreadable or not.
    const verdict unreadable = target_table[current_target].in_update_firmware
                                   ? verdict{"update-firmware", EXIT_LEFT_IN_UPDATE_FIRMWARE}
                                   : verdict{"unreadable", EXIT_TRY_AGAIN_LATER};
    if (identify_drive(descriptor_rows()) != 0) return unreadable;
    update_mode = 0;
    image_loaded = load_image() == 0;
    if (report_revision(REVISION_BEFORE_UPDATE) != 0) return unreadable;
    // Without the image the drive is judged by what it alone shows.
    if (!image_loaded) {
        if (identity_state == 1 && answers_as_update_firmware(inquiry_data))
            return {"update-firmware", EXIT_LEFT_IN_UPDATE_FIRMWARE};
        return {"no-image", EXIT_IMAGE_REFUSED};
    }
    last_message_code = -1;
    // A check asks nothing: each drive is judged as one asked about alone.
    const int compatible = check_compatibility(FULL_CHECK, 0);
    switch (last_message_code) {
    case MSG_DRIVE_INFO_FAILED: return unreadable;
    case MSG_HARDWARE_REVISION_MISMATCH: return {"not-this-model (hardware revision)", EXIT_NOTHING_HERE};
    case MSG_KERNEL_MODEL_MISMATCH: return {"not-this-model (signature)", EXIT_NOTHING_HERE};
    case MSG_NORMAL_MODEL_MISMATCH: return {"not-this-model (vendor)", EXIT_NOTHING_HERE};
    default: break;
    }
    if (compatible == 1) return {"up-to-date", EXIT_UP_TO_DATE};
    // Found in its update firmware (both answers say so, as the run judges
    // it): only an update brings it back, and a person is needed.
    if (identity_state == 1 && answers_as_update_firmware(inquiry_data))
        return {"update-firmware", EXIT_LEFT_IN_UPDATE_FIRMWARE};
    return {"update", EXIT_UPDATE_APPLIES};
}

// The drive's line: device, vendor and product, revision and date now, the
// image's version and date, and the verdict, separated by tabs.
std::string drive_line(const verdict& v) {
    const target_record& target = target_table[current_target];
    const std::string path = drive_device_path(target.drive_letter);
    std::string device = target.drive_letter ? format_text("%c:", target.drive_letter)
                                             : format_text("No.%d", current_target + 1);
    char name[64] = {};
    host::device_name(path.c_str(), name, sizeof name);
    if (name[0] != '\0') device += std::string(" ") + name;
    const bool image = image_loaded && image_buffer.address != nullptr && transfer_length > 0;
    const int date_offset = question_date_offset();
    return format_text("%s\t%s\t%s %s\t%s %s\t%s\n", device.c_str(),
                       shown_field(inquiry_data + INQUIRY_VENDOR, IDENTIFICATION_WIDTH).c_str(),
                       shown_field(inquiry_data + INQUIRY_REVISION, 4).c_str(),
                       shown_field(inquiry_data + date_offset, 8).c_str(),
                       image ? shown_field(loaded_header.version_text, 4).c_str() : "",
                       image ? shown_field(image_date_text(loaded_header).c_str(), 8).c_str() : "", v.word.c_str());
}

}  // namespace

int check_run() {
    silence_console(true);
    oem_code_page = host::GetOEMCP();
    init_firmware_descriptor();
    if (const int refused = open_run()) {
        silence_console(false);
        return refused;
    }
    prepare_run_record();
    detect_host_environment(working_buffers_of_the_run());
    target_count = enumerate_targets(descriptor_rows());
    log_drives_found();
    int result = target_count == 0 ? EXIT_NOTHING_HERE : EXIT_UP_TO_DATE;
    // A drive the run had no right to reach may be one to update: a person
    // must give the right, and the host has said which is missing.
    if (drives_refused != 0) result = EXIT_UPDATE_FAILED;
    bool image_missing = false;
    for (int i = 0; i < target_count; ++i) {
        current_target = i;
        image_loaded = true;
        const verdict v = judge_drive();
        result = more_urgent(result, v.exit_code);
        image_missing = image_missing || !image_loaded;
        log_check(v.word.c_str());
        const std::string line = drive_line(v);
        host::write_console(line.data(), line.size());
    }
    release_host_environment();
    silence_console(false);
    if (target_count == 0 && drives_refused == 0) host::write_notice(notice_text(NOTICE_NO_DRIVE));
    if (image_missing)
        host::write_notice(format_text(notice_text(NOTICE_IMAGE_NOT_LOADED), current_release.image_file_name).c_str());
    return result;
}
