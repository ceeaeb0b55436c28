// Which Windows family the updater runs on, the host peculiarities it works
// around (an Intel IDE driver, an IEEE 1394 adapter), the working buffers of
// the whole run and the media change notification control of the drives met.
#pragma once

#include <cstdint>

#include "platform/host.h"
#include "platform/working_buffer.h"
#include "transport/aspi_adapters.h"
#include "transport/transport.h"

// The probes' answers during enumeration: discovery's own working buffer.
extern working_buffer drive_data_buffer;
constexpr uint32_t NT_DRIVE_DATA_SIZE = 0x200000;

// The working buffers a run takes as its host is learned, each kept by its
// owner (the drive data here, the image buffer by the image, the mode block
// by the update-mode entry, the request blocks by the ASPI route), listed in
// the order each route takes them.
struct run_buffers {
    working_buffer* const* aspi_blocks;  // ASPI route: ASPI_BLOCK_SIZE each
    int aspi_count;
    working_buffer* const* nt_buffers;   // pass-through route: nt_sizes[i] bytes each
    const uint32_t* nt_sizes;
    int nt_count;
};

constexpr int MAX_NOTIFICATION_ENTRIES = 23;
struct notification_entry {
    char letter;
    HANDLE handle;
};
extern notification_entry notification_table[MAX_NOTIFICATION_ENTRIES];
extern int notification_count;

void detect_host_environment(const run_buffers& buffers);
// The registry keys (under HKEY_LOCAL_MACHINE) whose presence tells the Intel IDE driver.
extern const char* const INTEL_DRIVER_KEYS[2];
bool registry_key_present(const char* sub_key);
// Holds `buffers` as the list the host is learned with, which release gives
// back: detection does so itself; a run that brings buffers of its own does
// so here.
void hold_working_buffers(const run_buffers& buffers);
int init_nt_host(const run_buffers& buffers);
// The ASPI route's start: the blocks of `buffers` taken, the manager's
// adapters inquired and classified. aspi_initialize's result.
int start_aspi_route(const run_buffers& buffers);
void classify_aspi_adapters();
// Gives back what detection took: the held list's buffers, the ASPI route's
// records, the media change notification control.
int release_host_environment();

// True when every working buffer the route needs, of the list the host was
// learned with, is allocated.
bool working_buffers_ready();

// Media change notification control, taken from every CD/DVD drive met on
// the way (pass-through route) and given back at release.
int take_notification_control(char letter);
void release_notification_control();

void reset_host_environment_state();
