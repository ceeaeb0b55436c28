// The record of a run (--log FILE): one line of JSON appended for each drive
// visited and one for the run, each with one write, so that the runs of many
// machines can share one file; "-" is standard output, which then carries the
// record alone. A record that cannot be written is told once on standard
// error; it never stops or changes an update.
#pragma once

#include <string>

#include "discovery/drive_outcome.h"
#include "image/firmware_image.h"

// Before the run's first word: a record on standard output has it to itself,
// the console's text going to standard error.
void start_run_record();

// Each line of a drive tells `image`, the image as the run last read it; a
// line written before the next call (a run ended from outside) tells the same.

// The drive at current_target as it was found (its INQUIRY data now).
void log_drive_found(const loaded_image& image);
// The drive at current_target after its visit: what became of it.
void log_drive(const drive_outcome& outcome, const loaded_image& image);
// The drive at current_target as a check judged it.
void log_check(const drive_outcome& outcome, const loaded_image& image);
// The drive at current_target as it enters its update window, so that a run
// killed there leaves a line that says so; its final record follows.
void log_drive_updating(const loaded_image& image);
// The drive at current_target, which a run that stopped earlier never reached.
void log_drive_not_visited(const loaded_image& image);
// The run: its options and exit code.
void log_run(int exit_code);
// Gives the host the record's last lines as they stand (a final line for each
// drive without one, then the run's), to append with its own exit code should
// the run be ended from outside before log_run.
void prepare_run_record();
// The drives are found: from now on each is owed its final line, and each
// that is not one to update gets it now.
void log_drives_found();

// Text as a JSON string: UTF-8 (a host's name) as it is; any other byte
// (from a drive or an image) as the code point of the same number.
std::string json_text(const std::string& text);

void reset_run_log();
