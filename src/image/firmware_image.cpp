// Owns the current release, the drive's identity state and the loaded image.
#include <cstring>

#include "image/firmware_image.h"

model_row current_release;
int release_row = 0;
int identity_state = -1;
int update_mode = 0;
int32_t transfer_length = 0;
uint32_t image_date = 0;
uint8_t inquiry_data[INQUIRY_LENGTH];

int identify_drive() { return -1; }  // TODO(image)
int read_drive_info() { return -1; }
int load_image() { return -1; }

void reset_firmware_image_state() {
    std::memset(&current_release, 0, sizeof current_release);
    release_row = 0;
    identity_state = -1;
    update_mode = 0;
    transfer_length = 0;
    image_date = 0;
    std::memset(inquiry_data, 0, sizeof inquiry_data);
}
