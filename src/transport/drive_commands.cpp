// Owns the default command time-out and builds every CDB the updater sends.
#include "transport/drive_commands.h"

#include "transport/transport.h"

int32_t command_timeout_ms = 0;

int test_unit_ready(int) { return -1; }  // TODO(transport)
int inquiry(int, uint8_t*) { return -1; }
int start_stop_unit(int, int, int, int, int) { return -1; }
int read_buffer(int, int, int, uint32_t, uint32_t, void*) { return -1; }
int write_buffer(int, int, int, uint32_t, uint32_t, void*) { return -1; }
int stop_unit() { return -1; }
int write_image_chunk(uint32_t, uint16_t, const void*) { return -1; }

void reset_drive_commands_state() { command_timeout_ms = 0; }
