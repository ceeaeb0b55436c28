// Owns the transport state: the route, the open device, the pass-through
// block, the completion event and the sense of the last failed command,
// which it decodes; what both branches do at the start of every command.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "transport/transport.h"

int win9x_family = 0;
int intel_ide_driver = 0;
int ieee1394_adapter = -1;
int oem_code = 0;
HANDLE device_handle = nullptr;
char device_path[256];
SCSI_ADDRESS scsi_address;
pass_through_direct_block pass_through_block;
HANDLE completion_event = nullptr;
uint8_t last_sense[SENSE_LENGTH];
uint32_t last_sense_code = 0;
command_outcome last_outcome;
char last_failure_words[48] = {};
uint32_t request_block_offset = 0;

void begin_command(void* data_in, int32_t data_length) {
    std::memset(last_sense, 0, sizeof last_sense);
    last_sense_code = 0;
    last_outcome = {};
    pass_through_block.sptd.SenseInfoLength = 0;
    // A drive that answers short must not leave the previous drive's bytes behind.
    if (data_in && data_length > 0) std::memset(data_in, 0, static_cast<size_t>(data_length));
}

command_outcome refused_before_sending() {
    command_outcome outcome;
    outcome.kind = outcome_kind::refused;
    outcome.code = COMMAND_FAILED;
    return outcome;
}

int ieee1394_aspi_adapter() { return ieee1394_adapter; }

bool ieee1394_in_use() { return ieee1394_adapter != -1; }

void take_block_sense() {
    const size_t delivered = std::min<size_t>(pass_through_block.sptd.SenseInfoLength, SENSE_LENGTH);
    std::memset(last_sense, 0, sizeof last_sense);
    std::memcpy(last_sense, pass_through_block.sense, delivered);
}

int fetch_sense() {
    if (win9x_family != 1) take_block_sense();
    // The sense key byte is kept whole: callers compare it with the plain key.
    last_sense_code = uint32_t(last_sense[SENSE_KEY_BYTE]) << 16 | uint32_t(last_sense[SENSE_ASC_BYTE]) << 8 |
                      last_sense[SENSE_ASCQ_BYTE];
    return COMMAND_OK;
}

sense_category last_sense_category() {
    const uint8_t key = last_sense[SENSE_KEY_BYTE], asc = last_sense[SENSE_ASC_BYTE], ascq = last_sense[SENSE_ASCQ_BYTE];
    if (key == SENSE_NOT_READY) {
        if (asc == ASC_NO_MEDIUM) return sense_category::no_medium;
        if (asc == ASC_NOT_READY && ascq == ASCQ_INITIALIZING_REQUIRED) return sense_category::initializing_required;
        if (asc == ASC_NOT_READY && ascq == ASCQ_BECOMING_READY) return sense_category::becoming_ready;
        return sense_category::not_ready;
    }
    if (key == SENSE_UNIT_ATTENTION) return sense_category::unit_attention;
    return key == 0 && asc == 0 && ascq == 0 ? sense_category::none : sense_category::other;
}

bool not_ready(sense_category category) {
    return category == sense_category::no_medium || category == sense_category::initializing_required ||
           category == sense_category::becoming_ready || category == sense_category::not_ready;
}

void reset_transport_state() {
    win9x_family = 0;
    intel_ide_driver = 0;
    ieee1394_adapter = -1;
    oem_code = 0;
    device_handle = nullptr;
    std::memset(device_path, 0, sizeof device_path);
    std::memset(&scsi_address, 0, sizeof scsi_address);
    std::memset(&pass_through_block, 0, sizeof pass_through_block);
    completion_event = nullptr;
    std::memset(last_sense, 0, sizeof last_sense);
    last_sense_code = 0;
    last_outcome = {};
    last_failure_words[0] = '\0';
    request_block_offset = 0;
}

void note_system_words(const char* words) {
    char* const kept = last_outcome.system_words;
    if (words) std::snprintf(kept, sizeof last_outcome.system_words, "%s", words);
    else host::system_error_text(kept, sizeof last_outcome.system_words);
    if (last_outcome.system_words[0] != '\0')
        std::memcpy(last_failure_words, last_outcome.system_words, sizeof last_failure_words);
}
