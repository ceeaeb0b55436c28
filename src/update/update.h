// The update of one drive: the procedure, the media check, the switch into
// update mode, the transfer of the image and the re-flash.
#pragma once

#include <cstdint>

int update_drive();
int media_check();
int enter_update_mode(uint32_t model_code);
int check_update_mode();
int transfer_image();
int leave_update_mode(uint32_t model_code);
void settle_wait(int leave_result);
