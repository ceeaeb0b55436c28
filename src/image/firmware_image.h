// The drive's identity and the release selected for it, and the firmware image
// file: loading it into the image buffer and decoding the header fields the
// updater interprets.
#pragma once

#include <cstdint>

#include "entry/entry.h"

constexpr uint32_t IMAGE_HEADER_SIZE = 0x13A;
constexpr int INQUIRY_LENGTH = 96;

extern model_row current_release;
extern int release_row;
extern int identity_state;  // -1 read failed, 1 update firmware, 0 normal firmware
extern int update_mode;
extern int32_t transfer_length;
extern uint32_t image_date;
extern uint8_t inquiry_data[INQUIRY_LENGTH];

int identify_drive();
int read_drive_info();
int load_image();

void reset_firmware_image_state();
