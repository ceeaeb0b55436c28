// The switches between the drive's firmwares: the per-model facts, the mode
// block, the entry command with its access values by signature and the check
// that the drive then answers as its update firmware, and the leave command
// (with its own access values) that makes the drive re-flash itself and
// restart, with the settle wait that follows it.
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
#include "update/update.h"

namespace {

constexpr int32_t TIMEOUT_AFTER_ENTRY_MS = DEFAULT_COMMAND_TIMEOUT_MS;
constexpr uint32_t PAUSE_AFTER_ENTRY_MS = 2000;
constexpr int32_t TIMEOUT_AFTER_LEAVE_MS = 5000;
constexpr uint32_t PAUSE_AFTER_LEAVE_MS = 3000;
constexpr uint32_t PAUSE_AFTER_LEAVE_SCSI_GENERAL_MS = 5000;
constexpr uint32_t SETTLE_SLOW_PATH_MS = 5000;
constexpr uint32_t SETTLE_AFTER_FAILED_LEAVE_MS = 2000;

}  // namespace

working_buffer small_buffer;

const model_row* find_update_model(uint32_t model_code) {
    return current_release.model_code == model_code ? &current_release : nullptr;
}

uint32_t access_value(const access_rule* rules, uint32_t access_code) {
    const access_rule* rule = rules;
    while (rule->signature != nullptr && std::memcmp(drive_info + IDENTITY_SIGNATURE, rule->signature, IDENTITY_FIELD_WIDTH) != 0)
        ++rule;
    return rule->fixed ? rule->value : access_code + rule->value;
}

int build_mode_block(const model_row& model, uint32_t value) {
    uint8_t* block = small_buffer.address;
    if (block == nullptr) return -1;
    std::memset(block, 0, MODE_BLOCK_SIZE);
    std::memcpy(block, model.model_string, sizeof model.model_string);
    for (int i = 0; i < 4; ++i) block[16 + i] = static_cast<uint8_t>(value >> (8 * i));
    return 0;
}

int enter_update_mode(uint32_t model_code, command_outcome* failed) {
    const model_row* model = find_update_model(model_code);
    // Without the model's row or the mode block nothing is sent: the drive stays as it is.
    command_outcome sent = refused_before_sending();
    if (model != nullptr &&
        build_mode_block(*model, access_value(ENTRY_ACCESS, current_release.access_code)) == 0) {
        command_timeout_ms = model->entry_timeout_ms;
        sent = write_buffer(target_of(current_target), MODE_ENTER_UPDATE, BUFFER_MODE_BLOCK, 0, MODE_BLOCK_SIZE,
                            small_buffer.address);
    }
    if (sent.failed()) {
        if (failed) *failed = sent;
        show_message(MSG_KERNEL_MODE_FAILED, KIND_CONSOLE);
        return sent.code;
    }
    command_timeout_ms = TIMEOUT_AFTER_ENTRY_MS;
    if (!(win9x_family == 1 && intel_ide_driver != 0)) wait_ms(PAUSE_AFTER_ENTRY_MS);
    return 0;
}

int check_update_mode(command_outcome* failed) {
    const command_outcome asked = inquiry(target_of(current_target), inquiry_data);
    if (asked.failed()) {
        if (failed) *failed = asked;
        show_message(MSG_INQUIRY_FAILED, KIND_CONSOLE);
        return -1;
    }
    update_mode = answers_as_update_firmware(inquiry_data);
    return update_mode ? 0 : 1;
}

int leave_update_mode(uint32_t model_code, command_outcome* failed) {
    const model_row* model = find_update_model(model_code);
    if (model == nullptr ||
        build_mode_block(*model, access_value(LEAVE_ACCESS, current_release.access_code)) != 0) {
        if (failed) *failed = refused_before_sending();
        show_message(MSG_NORMAL_MODE_FAILED, KIND_CONSOLE);
        return -1;
    }
    command_timeout_ms = model->leave_timeout_ms;
    const command_outcome sent =
        write_buffer(target_of(current_target), MODE_LEAVE_UPDATE, BUFFER_MODE_BLOCK, 0, MODE_BLOCK_SIZE, small_buffer.address);
    command_timeout_ms = TIMEOUT_AFTER_LEAVE_MS;
    if (sent.failed()) {
        // A drive that has already begun its restart answers the leave command
        // with not ready or unit attention behind IEEE 1394, and not at all as a
        // SCSI-class drive on NT; its re-flash goes on.
        const bool restarting =
            ieee1394_in_use() && (not_ready(sent.sense) || sent.sense == sense_category::unit_attention);
        bool excused = (oem_code == OEM_CLASS_SCSI_GENERAL && win9x_family == 0) || restarting;
        if (!excused) {
            if (failed) *failed = sent;
            show_message(MSG_NORMAL_MODE_FAILED, KIND_CONSOLE);
            return sent.code;
        }
    }
    if (oem_code == OEM_CLASS_SCSI_GENERAL) {
        wait_ms(PAUSE_AFTER_LEAVE_SCSI_GENERAL_MS);
        test_unit_ready(target_of(current_target));
    } else {
        wait_ms(PAUSE_AFTER_LEAVE_MS);
    }
    return 0;
}

void settle_wait(int leave_result) {
    if (ieee1394_in_use() || (win9x_family == 1 && intel_ide_driver != 0)) {
        wait_ms(SETTLE_SLOW_PATH_MS);
    } else if (leave_result != 0) {
        wait_ms(SETTLE_AFTER_FAILED_LEAVE_MS);
    }
}

void reset_update_mode_state() { small_buffer = {}; }
