// What a failed command tells of a drive's outcome.
#include "discovery/drive_outcome.h"

#include "transport/transport.h"

outcome_reason reason_of_command(const command_outcome& command) {
    if (command.system_error == ERROR_DEV_NOT_EXIST) return outcome_reason::detached;
    if (!command.drive_answered()) return outcome_reason::no_answer;
    if (command.status == SCSI_STATUS_BUSY) return outcome_reason::busy;
    return not_ready(command.sense) ? outcome_reason::not_ready : outcome_reason::no_answer;
}

outcome_reason unless_detached(outcome_reason reason, const command_outcome& command) {
    return command.system_error == ERROR_DEV_NOT_EXIST ? outcome_reason::detached : reason;
}

void note_failed_command(drive_outcome& outcome) {
    const uint32_t key = last_sense[2] & 0x0F, asc = last_sense[12], ascq = last_sense[13];
    outcome.sense_known = last_outcome.drive_answered() && last_outcome.status != 0 && (key | asc | ascq) != 0;
    outcome.sense_code = outcome.sense_known ? key << 16 | asc << 8 | ascq : 0;
}
