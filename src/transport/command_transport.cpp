// Owns the transport state: the open device, the pass-through and ASPI request
// blocks, the completion event and the sense of the last failed command.
#include <cstring>

#include "transport/transport.h"

HANDLE device_handle = nullptr;
char device_path[256];
SCSI_ADDRESS scsi_address;
pass_through_direct_block pass_through_block;
HANDLE completion_event = nullptr;
uint8_t last_sense[SENSE_LENGTH];
uint32_t last_sense_code = 0;

int execute_command(command_request*) { return -1; }  // TODO(transport)
int open_drive_device(char) { return -1; }
int close_drive_device() { return 0; }
int pass_through_inquiry() { return -1; }
int pass_through_read_drive_info() { return -1; }
int aspi_inquiry(int, int) { return -1; }
int aspi_read_drive_info(int, int) { return -1; }
int fetch_sense() { return 0; }

void reset_transport_state() {
    device_handle = nullptr;
    std::memset(device_path, 0, sizeof device_path);
    std::memset(&scsi_address, 0, sizeof scsi_address);
    std::memset(&pass_through_block, 0, sizeof pass_through_block);
    completion_event = nullptr;
    std::memset(last_sense, 0, sizeof last_sense);
    last_sense_code = 0;
}
