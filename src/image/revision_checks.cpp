// Owns the drive's decoded date, revision and OEM class.
#include "image/revision_checks.h"

uint32_t drive_date = 0;
uint16_t drive_revision = 0;
int oem_code = 0;

int report_revision(int) { return -1; }  // TODO(image)
int check_compatibility(int) { return -1; }

void reset_revision_checks_state() {
    drive_date = 0;
    drive_revision = 0;
    oem_code = 0;
}
