// The update procedure for one drive.
#include "update/update.h"

int update_drive() { return 1; }  // TODO(update)
int media_check() { return -1; }
int enter_update_mode(uint32_t) { return -1; }
int check_update_mode() { return -1; }
int transfer_image() { return -1; }
int leave_update_mode(uint32_t) { return -1; }
void settle_wait(int) {}
