// What the drive runs now and after the update, and whether this image may go
// into this drive.
#pragma once

#include <cstdint>

extern uint32_t drive_date;
extern uint16_t drive_revision;
extern int oem_code;

int report_revision(int mode);
int check_compatibility(int full);

void reset_revision_checks_state();
