// Which Windows family the updater runs on, the host peculiarities it works
// around (an Intel IDE driver, an IEEE 1394 adapter), and the working buffers
// of the whole run.
#pragma once

#include <cstdint>

#include "platform/host.h"

extern int win9x_family;
extern int intel_ide_driver;
extern int ieee1394_adapter;  // -1: none

// The working buffers (null until allocated) and their global memory handles.
struct working_buffer {
    HGLOBAL memory;
    uint8_t* address;
    uint32_t size;
};
extern working_buffer drive_data_buffer;
extern working_buffer image_buffer;
extern working_buffer small_buffer;
extern working_buffer request_block_area;  // 9x family only

void detect_host_environment();
int init_nt_host();
void classify_aspi_adapters();
int release_host_environment();

// Allocates a zero-filled, locked block of global memory into `buffer`.
int allocate_working_buffer(working_buffer& buffer, uint32_t size);
void free_working_buffer(working_buffer& buffer);
// True when every working buffer the family needs is allocated.
bool working_buffers_ready();

void reset_host_environment_state();
