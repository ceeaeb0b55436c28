// The transfer of the loaded image to a drive in its update firmware, the
// progress and completion lines, the leave command that makes the drive
// re-flash itself and restart (with its own access values by signature), and
// the settle wait that follows it.
#include <cstdint>

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

const access_rule LEAVE_ACCESS[] = {
    {"PARVEL  ", false, 5}, {"PARVEL2 ", false, 5}, {"KESTO   ", false, 0}, {nullptr, false, 4},
};

constexpr uint16_t BLOCK_LENGTH = 0x8000;
constexpr int32_t TIMEOUT_AFTER_LEAVE_MS = 5000;
constexpr uint32_t PAUSE_AFTER_LEAVE_MS = 3000;
constexpr uint32_t PAUSE_AFTER_LEAVE_SCSI_GENERAL_MS = 5000;
constexpr uint32_t SETTLE_SLOW_PATH_MS = 5000;
constexpr uint32_t SETTLE_AFTER_FAILED_LEAVE_MS = 2000;

const char COMPLETION_ENGLISH[] = "\rProcessing 100%% --> Data transfer complete\r\nNow internal re-flashing...";
// "\rProcessing 100%% --> ﾌｧｰﾑｳｪｱ転送完了\r\n現在ﾄﾞﾗｲﾌﾞ内部でｱｯﾌﾟﾃﾞｰﾄ中です..." in code page 932.
const char COMPLETION_JAPANESE[] =
    "\rProcessing 100%% --> \xCC\xA7\xB0\xD1\xB3\xAA\xB1\x93\x5D\x91\x97\x8A\xAE\x97\xB9\r\n"
    "\x8C\xBB\x8D\xDD\xC4\xDE\xD7\xB2\xCC\xDE\x93\xE0\x95\x94\x82\xC5\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\x92\x86"
    "\x82\xC5\x82\xB7...";

// The Intel driver of a 9x host reboots the drive itself around the last block.
bool intel_driver_on_9x() { return win9x_family == 1 && intel_ide_driver != 0; }


}  // namespace

int transfer_image() {
    if (transfer_length <= 0 || image_buffer.address == nullptr ||
        static_cast<uint32_t>(transfer_length) > image_buffer.size) {
        show_message(MSG_NORMAL_PART_FAILED, KIND_ERROR);
        return -1;
    }
    print_text("\n");
    int32_t offset = 0;
    uint16_t block = BLOCK_LENGTH;
    do {
        if (intel_driver_on_9x() && offset == transfer_length - block) {
            print_text(format_text("\rProcessing 100%%").c_str());
            show_message(MSG_REBOOTING, KIND_CONSOLE);
        } else {
            int percent = static_cast<int>(int64_t{offset} * 100 / transfer_length);
            print_text(format_text("\rProcessing %d%%", percent).c_str());
        }
        if (transfer_length - offset < block) block = static_cast<uint16_t>(transfer_length - offset);
        if (write_image_chunk(static_cast<uint32_t>(offset), block, image_buffer.address + offset) != 0) {
            show_message(MSG_NORMAL_PART_FAILED, KIND_ERROR);
            return -1;
        }
        offset += block;
    } while (offset < transfer_length);
    // The Intel driver's route has said its last line before the last block.
    if (intel_driver_on_9x()) return 0;
    if (oem_code_page == JAPANESE_CODE_PAGE) {
        print_text(format_text(COMPLETION_JAPANESE).c_str());
    } else {
        print_text(format_text(COMPLETION_ENGLISH).c_str());
    }
    return 0;
}

int leave_update_mode(uint32_t model_code) {
    const update_model* model = find_update_model(model_code);
    if (model == nullptr ||
        build_mode_block(*model, access_value(LEAVE_ACCESS, current_release.access_code)) != 0) {
        show_message(MSG_NORMAL_MODE_FAILED, KIND_CONSOLE);
        return -1;
    }
    command_timeout_ms = model->leave_timeout_ms;
    int result =
        write_buffer(current_target, MODE_LEAVE_UPDATE, BUFFER_MODE_BLOCK, 0, MODE_BLOCK_SIZE, small_buffer.address);
    command_timeout_ms = TIMEOUT_AFTER_LEAVE_MS;
    if (result != 0) {
        // A drive that has already begun its restart answers the leave command
        // with not ready or unit attention behind IEEE 1394, and not at all as a
        // SCSI-class drive on NT; its re-flash goes on.
        uint32_t key = 0;
        if (ieee1394_adapter != -1) {
            fetch_sense();
            key = last_sense_code >> 16 & 0xFF;
        }
        bool excused = (oem_code == OEM_CLASS_SCSI_GENERAL && win9x_family == 0) ||
                       (ieee1394_adapter != -1 && (key == SENSE_NOT_READY || key == SENSE_UNIT_ATTENTION));
        if (!excused) {
            show_message(MSG_NORMAL_MODE_FAILED, KIND_CONSOLE);
            return result;
        }
    }
    if (oem_code == OEM_CLASS_SCSI_GENERAL) {
        wait_ms(PAUSE_AFTER_LEAVE_SCSI_GENERAL_MS);
        test_unit_ready(current_target);
    } else {
        wait_ms(PAUSE_AFTER_LEAVE_MS);
    }
    return 0;
}

void settle_wait(int leave_result) {
    if (ieee1394_adapter != -1 || intel_driver_on_9x()) {
        wait_ms(SETTLE_SLOW_PATH_MS);
    } else if (leave_result != 0) {
        wait_ms(SETTLE_AFTER_FAILED_LEAVE_MS);
    }
}
