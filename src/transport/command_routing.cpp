// Routes every command to the ASPI branch on Windows 95/98/Me and to the
// pass-through branch elsewhere.
#include "transport/transport.h"

command_outcome execute_command(command_request* request) {
    begin_command(request->direction == DIRECTION_IN ? request->data : nullptr, request->data_length);
    if (!request->to.known) return last_outcome;
    last_outcome.code = win9x_family == 1 ? execute_aspi(request) : execute_pass_through(request);
    return last_outcome;
}
