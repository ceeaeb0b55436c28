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

void note_failed_command(drive_outcome& outcome, const command_outcome& command) {
    outcome.sense_known = command.drive_answered() && command.status != 0 && command.sense_code != 0;
    outcome.sense_code = outcome.sense_known ? command.sense_code : 0;
}
