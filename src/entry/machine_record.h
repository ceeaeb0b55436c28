// The record of a machine (--record FILE): the drives this run found and what
// each answered, with the host facts the run read and the image it judged
// by, written as a scenario the simulator replays: a rehearsal of the update
// on the machine's own drives, and what support needs to see them.
#pragma once

#include <string>

#include "image/firmware_image.h"

// The scenario text of this machine as the run saw it: no host name, no
// user name, and of the image its header facts and digest, never its bytes.
std::string machine_record_text(const loaded_image& image);

// Writes the record to `path` whole, or not at all (with a notice): 0 or -1.
int write_machine_record(const char* path, const loaded_image& image);
