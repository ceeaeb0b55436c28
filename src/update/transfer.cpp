// The transfer of the loaded image to a drive in its update firmware, with
// the progress and completion lines.
#include <cstdint>

#include "discovery/enumeration.h"
#include "image/firmware_image.h"
#include "messages/messages.h"
#include "transport/drive_commands.h"
#include "transport/transport.h"
#include "update/update.h"

namespace {

const char COMPLETION_ENGLISH[] = "\rProcessing 100%% --> Data transfer complete\r\nNow internal re-flashing...";
// "\rProcessing 100%% --> ﾌｧｰﾑｳｪｱ転送完了\r\n現在ﾄﾞﾗｲﾌﾞ内部でｱｯﾌﾟﾃﾞｰﾄ中です..." in code page 932.
const char COMPLETION_JAPANESE[] =
    "\rProcessing 100%% --> \xCC\xA7\xB0\xD1\xB3\xAA\xB1\x93\x5D\x91\x97\x8A\xAE\x97\xB9\r\n"
    "\x8C\xBB\x8D\xDD\xC4\xDE\xD7\xB2\xCC\xDE\x93\xE0\x95\x94\x82\xC5\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\x92\x86"
    "\x82\xC5\x82\xB7...";

// The Intel driver of a 9x host reboots the drive itself around the last block.
bool intel_driver_on_9x() { return win9x_family == 1 && intel_ide_driver != 0; }

}  // namespace

int transfer_image(const loaded_image& image, int* refused_block, command_outcome* failed) {
    if (!image.has_bytes() || current_release.block_length == 0) {
        if (failed) *failed = refused_before_sending();
        show_message(MSG_NORMAL_PART_FAILED, KIND_ERROR);
        return -1;
    }
    const uint32_t length = image.length;
    print_text("\n");
    uint32_t offset = 0;
    // The model's length a command (see model_table.cpp).
    uint16_t block = current_release.block_length;
    int tenth_shown = -1;  // a log gets a whole line at each tenth instead
    const command_target drive = target_of(current_target);
    do {
        if (intel_driver_on_9x() && offset == length - block) {
            print_text(format_text(console_is_a_log ? "Processing 100%%" : "\rProcessing 100%%").c_str());
            show_message(MSG_REBOOTING, KIND_CONSOLE);
        } else {
            int percent = static_cast<int>(uint64_t{offset} * 100 / length);
            if (!console_is_a_log) {
                print_text(format_text("\rProcessing %d%%", percent).c_str());
            } else if (percent / 10 != tenth_shown) {
                tenth_shown = percent / 10;
                print_text(format_text("Processing %d%%\n", percent).c_str());
            }
        }
        if (length - offset < block) block = static_cast<uint16_t>(length - offset);
        const command_outcome sent = write_image_chunk(drive, offset, block, image.bytes + offset);
        if (sent.failed()) {
            if (failed) *failed = sent;
            if (refused_block) *refused_block = static_cast<int>(offset / current_release.block_length);
            show_message(MSG_NORMAL_PART_FAILED, KIND_ERROR);
            return -1;
        }
        offset += block;
    } while (offset < length);
    // The Intel driver's route has said its last line before the last block.
    if (intel_driver_on_9x()) return 0;
    // A log's progress line has ended already: no carriage return to overwrite it.
    const std::string completion = format_text(oem_code_page == JAPANESE_CODE_PAGE ? COMPLETION_JAPANESE : COMPLETION_ENGLISH);
    print_text(completion.c_str() + (console_is_a_log ? 1 : 0));
    return 0;
}
