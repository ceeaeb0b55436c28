// The check of every drive (--check): the drives are found and identified,
// the image is loaded and each drive judged as a run judges it, and one line
// per drive tells what a run would do. Nothing that changes a drive is sent:
// enumeration's INQUIRY and identity READ BUFFER, the same again for each
// drive, and the media change notification enumeration takes and gives back.
#include <string>

#include "discovery/enumeration.h"
#include "discovery/host_environment.h"
#include "entry/entry.h"
#include "entry/run_log.h"
#include "image/firmware_image.h"
#include "image/revision_checks.h"
#include "messages/messages.h"
#include "platform/host.h"
#include "transport/transport.h"

namespace {

constexpr int CHECK_IMAGE_NOT_LOADED = -1;

// What a run would do to the drive at current_target.
struct verdict {
    std::string word;
    bool update_applies = false;
};

verdict judge_drive() {
    if (identify_drive() != 0) return {"unreadable"};
    update_mode = 0;
    if (load_image() != 0) return {""};
    if (report_revision(REVISION_BEFORE_UPDATE) != 0) return {"unreadable"};
    last_message_code = -1;
    const int compatible = check_compatibility(FULL_CHECK);
    switch (last_message_code) {
    case MSG_DRIVE_INFO_FAILED: return {"unreadable"};
    case MSG_HARDWARE_REVISION_MISMATCH: return {"not-this-model (hardware revision)"};
    case MSG_KERNEL_MODEL_MISMATCH: return {"not-this-model (signature)"};
    case MSG_NORMAL_MODEL_MISMATCH: return {"not-this-model (vendor)"};
    default: break;
    }
    if (compatible == 1) return {"up-to-date"};
    // Found in its update firmware: only an update brings it back.
    if (identity_state == 1 || update_firmware_revision()) return {"update-firmware", true};
    return {"update", true};
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
    const uint8_t* header = image_buffer.address;
    const bool image = header != nullptr && transfer_length > 0;
    const int date_offset = question_date_offset();
    return format_text("%s\t%s\t%s %s\t%s %s\t%s\n", device.c_str(),
                       shown_field(inquiry_data + INQUIRY_VENDOR, IDENTIFICATION_WIDTH).c_str(),
                       shown_field(inquiry_data + INQUIRY_REVISION, 4).c_str(),
                       shown_field(inquiry_data + date_offset, 8).c_str(),
                       image ? shown_field(header + IMAGE_VERSION_TEXT, 4).c_str() : "",
                       image ? shown_field(image_date_text(header).c_str(), 8).c_str() : "", v.word.c_str());
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
    detect_host_environment();
    target_count = enumerate_targets();
    prepare_run_record();
    int result = target_count == 0 ? 1 : 0;
    for (int i = 0; i < target_count; ++i) {
        current_target = i;
        const verdict v = judge_drive();
        if (v.word.empty()) {
            result = CHECK_IMAGE_NOT_LOADED;
            break;
        }
        log_check(v.word.c_str());
        const std::string line = drive_line(v);
        host::write_console(line.data(), line.size());
        if (v.update_applies) result = EXIT_LOOK_AT_THIS_MACHINE;
    }
    release_host_environment();
    silence_console(false);
    if (target_count == 0) host::write_notice(notice_text(NOTICE_NO_DRIVE));
    if (result == CHECK_IMAGE_NOT_LOADED) {
        host::write_notice(format_text(notice_text(NOTICE_IMAGE_NOT_LOADED), current_release.image_file_name).c_str());
        return 1;
    }
    return result;
}
