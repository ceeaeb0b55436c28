// Carrying one CDB with its data to a drive and its status and sense back,
// through the operating system's SCSI pass-through or through the ASPI manager;
// the probes enumeration sends before a target table exists.
#pragma once

#include <cstdint>

#include "platform/host.h"

constexpr int DIRECTION_NONE = 0;
constexpr int DIRECTION_IN = 1;
constexpr int DIRECTION_OUT = 2;

struct command_request {
    int32_t target;
    int32_t direction;
    int32_t cdb_length;
    int32_t timeout_ms;   // 0: no time-out given
    int32_t data_length;
    void* data;
    uint8_t cdb[16];
};

// The pass-through structure followed by a filler word and the sense area.
struct pass_through_direct_block {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[32];
};

constexpr int SENSE_LENGTH = 18;

extern HANDLE device_handle;
extern char device_path[256];
extern SCSI_ADDRESS scsi_address;
extern pass_through_direct_block pass_through_block;
extern HANDLE completion_event;
extern uint8_t last_sense[SENSE_LENGTH];
extern uint32_t last_sense_code;

// Results: 0 success; 2 non-zero SCSI status through pass-through; -1 failure;
// -2 device not opened (pass-through) or completion wait timed out (ASPI).
int execute_command(command_request* request);
int open_drive_device(char letter);
int close_drive_device();
int pass_through_inquiry();
int pass_through_read_drive_info();
int aspi_inquiry(int host_adapter, int target_id);
int aspi_read_drive_info(int host_adapter, int target_id);
int fetch_sense();

void reset_transport_state();
