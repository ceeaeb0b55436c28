// Owns the target table, the drive information area and the notification table.
#include <cstring>

#include "discovery/enumeration.h"

target_record target_table[MAX_TARGETS];
int target_count = 0;
int current_target = 0;
uint8_t drive_info[64];
notification_entry notification_table[MAX_NOTIFICATION_ENTRIES];
int notification_count = 0;

int enumerate_targets() { return 0; }  // TODO(discovery)
int identify_model(const uint8_t*) { return -1; }
int take_notification_control(char) { return 0; }
void release_notification_control() {}

void reset_enumeration_state() {
    std::memset(target_table, 0, sizeof target_table);
    target_count = 0;
    current_target = 0;
    std::memset(drive_info, 0, sizeof drive_info);
    std::memset(notification_table, 0, sizeof notification_table);
    notification_count = 0;
}
