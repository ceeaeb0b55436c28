// What a drive's answers show of its update firmware, in three degrees; each
// is the one rule for its question, read from the bytes it is handed.
#pragma once

#include <cstdint>

// The INQUIRY answer's revision is the update firmware's: a drive that says so
// after a switch or a restart runs it.
bool update_firmware_revision(const uint8_t* inquiry);
// That revision under the update firmware's vendor and product prefix: the
// drive surely runs it, and needs no switch into it.
bool answers_as_update_firmware(const uint8_t* inquiry);
// The identity block's update vendor is blank: the update firmware answers so.
bool identity_shows_update_firmware(const uint8_t* identity);
// That revision, or that identity block: the drive may run it, and is named
// as in its update firmware. 1 or 0.
int may_run_update_firmware(const uint8_t* inquiry, const uint8_t* identity);
