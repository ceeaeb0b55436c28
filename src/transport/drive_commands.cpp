// Owns the default command time-out and builds every CDB the updater sends:
// TEST UNIT READY, INQUIRY, START STOP UNIT, READ BUFFER and WRITE BUFFER, the
// last two on the drive maker's buffers 0xF0, 0xF1 and 0xFF.
#include "transport/drive_commands.h"

#include "transport/transport.h"

int32_t command_timeout_ms = 0;

namespace {

command_request new_request(const command_target& to, int cdb_length, int direction, int32_t timeout_ms, uint32_t data_length,
                            void* data) {
    command_request request{};
    request.to = to;
    request.direction = direction;
    request.cdb_length = cdb_length;
    request.timeout = timeout_of(timeout_ms);
    request.data_length = static_cast<int32_t>(data_length);
    request.data = data;
    return request;
}

// READ BUFFER and WRITE BUFFER: 24 bits of offset, 16 bits of length (byte 6
// stays 0). False, with nothing filled, when either does not fit its field: a
// truncated field would address other bytes of the drive's buffer.
bool put_buffer_fields(uint8_t* cdb, uint8_t opcode, int mode, int buffer_id, uint32_t offset, uint32_t length) {
    if (offset > BUFFER_OFFSET_LIMIT || length > BUFFER_LENGTH_LIMIT) return false;
    cdb[0] = opcode;
    cdb[1] = static_cast<uint8_t>(mode);
    cdb[2] = static_cast<uint8_t>(buffer_id);
    cdb[3] = static_cast<uint8_t>(offset >> 16);
    cdb[4] = static_cast<uint8_t>(offset >> 8);
    cdb[5] = static_cast<uint8_t>(offset);
    cdb[7] = static_cast<uint8_t>(length >> 8);
    cdb[8] = static_cast<uint8_t>(length);
    return true;
}

}  // namespace

command_outcome test_unit_ready(const command_target& to) {
    command_request request = new_request(to, 6, DIRECTION_NONE, command_timeout_ms, 0, nullptr);
    request.cdb[0] = OP_TEST_UNIT_READY;
    return execute_command(&request);
}

command_outcome inquiry(const command_target& to, uint8_t* buffer) {
    const int32_t timeout = ieee1394_in_use() ? INQUIRY_TIMEOUT_IEEE1394_MS : INQUIRY_TIMEOUT_MS;
    command_request request = new_request(to, 6, DIRECTION_IN, timeout, INQUIRY_LENGTH, buffer);
    request.cdb[0] = OP_INQUIRY;
    request.cdb[4] = INQUIRY_LENGTH;
    return execute_command(&request);
}

command_outcome start_stop_unit(const command_target& to, int byte1, int power_condition, int load_eject, int start) {
    command_request request = new_request(to, 6, DIRECTION_NONE, command_timeout_ms, 0, nullptr);
    request.cdb[0] = OP_START_STOP_UNIT;
    request.cdb[1] = static_cast<uint8_t>(byte1);
    request.cdb[4] = static_cast<uint8_t>(power_condition * 16 + load_eject * 2 + start);
    return execute_command(&request);
}

command_outcome read_buffer(const command_target& to, int mode, int buffer_id, uint32_t offset, uint32_t length, void* buffer) {
    command_request request = new_request(to, 10, DIRECTION_IN, command_timeout_ms, length, buffer);
    if (!put_buffer_fields(request.cdb, OP_READ_BUFFER, mode, buffer_id, offset, length)) return refused_before_sending();
    return execute_command(&request);
}

command_outcome write_buffer(const command_target& to, int mode, int buffer_id, uint32_t offset, uint32_t length, void* buffer) {
    // The leave command carries the model's whole re-flash time on every
    // route: a time-out of 0 would become the pass-through's default of 60 s,
    // shorter than a healthy re-flash, on a drive behind IEEE 1394.
    command_request request =
        new_request(to, 10, length == 0 ? DIRECTION_NONE : DIRECTION_OUT, command_timeout_ms, length, buffer);
    if (!put_buffer_fields(request.cdb, OP_WRITE_BUFFER, mode, buffer_id, offset, length)) return refused_before_sending();
    return execute_command(&request);
}

command_outcome stop_unit(const command_target& to) {
    command_timeout_ms = 0;
    return start_stop_unit(to, 0, 0, 0, 0);
}

command_outcome write_image_chunk(const command_target& to, uint32_t offset, uint16_t length, const void* data) {
    command_timeout_ms = IMAGE_BLOCK_TIMEOUT_MS;
    // The request carries one pointer for both directions; an outgoing block is only read.
    return write_buffer(to, MODE_IMAGE_BLOCK, BUFFER_IMAGE, offset, length,
                        const_cast<void*>(data));
}

void reset_drive_commands_state() { command_timeout_ms = 0; }
