// The opening of every run: the built-in firmware descriptor, the machine
// claimed, and the image vetted before the first command to any drive.
#pragma once

#include <string>

#include "discovery/host_environment.h"
#include "model/drive_model.h"

extern model_row firmware_descriptor[MAX_MODEL_ROWS];
extern int release_count;
// The descriptor's filled rows, as identification takes them.
model_rows descriptor_rows();
// Copies every row of MODEL_TABLE into the descriptor, each naming the image
// the run was given or else its own; release_count is then the table's rows.
void init_firmware_descriptor();
// One text of every row of the descriptor, as a sentence names them:
// "A", "A and B", "A, B and C".
std::string every_row(std::string (*text_of)(const model_row& row));

// Before the first command to any drive: the machine claimed for this run,
// a record that is not the image, the image read once and vetted. 0 to go
// on, else the run's exit code after its one line. A run with --check or
// --yes whose image is refused goes on to list the drives, sending them
// only what a check sends: image_refused_at_opening says so.
int open_run();
extern bool image_refused_at_opening;
// The run was refused because another run holds the machine's drives.
extern bool another_run_held_the_drives;

// The opening both runs share: the language, the descriptor, the run
// opened, the host examined, and the drives found and given their first
// records. 0 to go on, else the run's exit code after its one line.
int begin_run();

// The working buffers the run takes as its host is learned, in the order
// each route takes them.
const run_buffers& working_buffers_of_the_run();

void reset_run_opening_state();
