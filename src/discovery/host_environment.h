// Which Windows family the updater runs on, the host peculiarities it works
// around (an Intel IDE driver, an IEEE 1394 adapter), and the working buffers
// of the whole run.
#pragma once

#include <cstdint>

#include "platform/host.h"
#include "platform/working_buffer.h"
#include "transport/aspi_adapters.h"
#include "transport/transport.h"

// The working buffers of the run (the ASPI route's request blocks, 9x
// family only, are the transport's: request_block_area).
extern working_buffer drive_data_buffer;
extern working_buffer image_buffer;
extern working_buffer small_buffer;
// The blocks the ASPI route takes at its start, in the order it takes them.
constexpr int ASPI_BLOCK_COUNT = 4;
extern working_buffer* const ASPI_WORKING_BLOCKS[ASPI_BLOCK_COUNT];

void detect_host_environment();
int init_nt_host();
void classify_aspi_adapters();
int release_host_environment();

// True when every working buffer the family needs is allocated.
bool working_buffers_ready();

void reset_host_environment_state();
