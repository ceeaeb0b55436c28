// The drive's wire format: builders of every CDB the updater sends.
#pragma once

#include <cstdint>

extern int32_t command_timeout_ms;  // default time-out of the builders, in ms; 0: none

struct command_target;
struct command_outcome;

// Each builder sends one command to the drive `to` and hands back its whole
// outcome (its code is what callers test: 0 or the failure); the wrappers
// leave command_timeout_ms at their own value.
command_outcome test_unit_ready(const command_target& to);
command_outcome inquiry(const command_target& to, uint8_t* buffer);  // 96 bytes
command_outcome start_stop_unit(const command_target& to, int byte1, int power_condition, int load_eject, int start);
command_outcome read_buffer(const command_target& to, int mode, int buffer_id, uint32_t offset, uint32_t length,
                            void* buffer);
command_outcome write_buffer(const command_target& to, int mode, int buffer_id, uint32_t offset, uint32_t length,
                             void* buffer);
command_outcome stop_unit(const command_target& to);
command_outcome write_image_chunk(const command_target& to, uint32_t offset, uint16_t length, const void* data);

void reset_drive_commands_state();
