// Routes every command to the ASPI branch on Windows 95/98/Me and to the
// pass-through branch elsewhere.
#include "transport/transport.h"

command_outcome execute_command(command_request* request) {
    begin_command(request->direction == DIRECTION_IN ? request->data : nullptr, request->data_length);
    if (!request->to.known) return last_outcome;
    last_outcome.code = win9x_family == 1 ? execute_aspi(request) : execute_pass_through(request);
    // The sense goes back with the command, so that the caller judges what
    // this command was told, whichever route brought it.
    fetch_sense();
    last_outcome.sense = last_sense_category();
    last_outcome.sense_code = (last_sense_code & 0x0F0000u) | (last_sense_code & 0xFFFFu);
    return last_outcome;
}
