// Which Windows family the updater runs on, the host peculiarities it works
// around (an Intel IDE driver, an IEEE 1394 adapter), the working buffers of
// the whole run and the media change notification control of the drives met.
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

constexpr int MAX_NOTIFICATION_ENTRIES = 23;
struct notification_entry {
    char letter;
    HANDLE handle;
};
extern notification_entry notification_table[MAX_NOTIFICATION_ENTRIES];
extern int notification_count;

void detect_host_environment();
int init_nt_host();
void classify_aspi_adapters();
int release_host_environment();

// True when every working buffer the family needs is allocated.
bool working_buffers_ready();

// Media change notification control, taken from every CD/DVD drive met on
// the way (pass-through route) and given back at release.
int take_notification_control(char letter);
void release_notification_control();

void reset_host_environment_state();
