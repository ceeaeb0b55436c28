// Owns the host state and the working buffers.
#include "discovery/host_environment.h"

int win9x_family = 0;
int intel_ide_driver = 0;
int ieee1394_adapter = -1;
working_buffer drive_data_buffer;
working_buffer image_buffer;
working_buffer small_buffer;
working_buffer request_block_area;

void detect_host_environment() {}  // TODO(discovery)
int init_nt_host() { return -1; }
void classify_aspi_adapters() {}
int release_host_environment() { return 0; }
int allocate_working_buffer(working_buffer&, uint32_t) { return -1; }
void free_working_buffer(working_buffer&) {}
bool working_buffers_ready() { return false; }

void reset_host_environment_state() {
    win9x_family = 0;
    intel_ide_driver = 0;
    ieee1394_adapter = -1;
    drive_data_buffer = {};
    image_buffer = {};
    small_buffer = {};
    request_block_area = {};
}
