// The drive's wire format: builders of every CDB the updater sends.
#pragma once

#include <cstdint>

extern int32_t command_timeout_ms;  // default time-out of the builders, in ms; 0: none

// Each builder sends one command to the target at that index of the target
// table and returns what execute_command returns; the wrappers address
// current_target and leave command_timeout_ms at their own value.
int test_unit_ready(int target);
int inquiry(int target, uint8_t* buffer);  // 96 bytes
int start_stop_unit(int target, int byte1, int power_condition, int load_eject, int start);
int read_buffer(int target, int mode, int buffer_id, uint32_t offset, uint32_t length, void* buffer);
int write_buffer(int target, int mode, int buffer_id, uint32_t offset, uint32_t length, void* buffer);
int stop_unit();
int write_image_chunk(uint32_t offset, uint16_t length, const void* data);

void reset_drive_commands_state();
