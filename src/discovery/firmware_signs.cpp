// The rules by which a drive's answers show its update firmware.
#include "discovery/firmware_signs.h"

#include <cstring>

#include "model/drive_model.h"
#include "transport/drive_layout.h"

bool update_firmware_revision(const uint8_t* inquiry) {
    return std::memcmp(inquiry + INQUIRY_REVISION, UPDATE_FIRMWARE_REVISION, sizeof UPDATE_FIRMWARE_REVISION - 1) == 0;
}

bool answers_as_update_firmware(const uint8_t* inquiry) {
    return update_firmware_revision(inquiry) &&
           std::memcmp(inquiry + INQUIRY_VENDOR, UPDATE_FIRMWARE_IDENTITY, sizeof UPDATE_FIRMWARE_IDENTITY - 1) == 0;
}

bool identity_shows_update_firmware(const uint8_t* identity) { return identity[IDENTITY_UPDATE_VENDOR] == ' '; }

int may_run_update_firmware(const uint8_t* inquiry, const uint8_t* identity) {
    return update_firmware_revision(inquiry) || identity_shows_update_firmware(identity) ? 1 : 0;
}
