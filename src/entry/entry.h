// The run: the program entry, the run state and the target loop.
#pragma once

#include <cstdint>
#include <string>

#include "entry/check_run.h"
#include "entry/exit_codes.h"
#include "entry/run_opening.h"

extern int update_all;
extern int updated_count;
// True when an interrupt held during a drive's update stopped the run before
// the next drive (a host that ends by the signal then does so).
extern bool run_stopped_by_interrupt;

// The program entry of every build: returns the exit code (0, 1, or 3 with
// the fleet options); options.h holds what the command line asked.
int updater_main(int argc, char** argv);
// The update of every drive, as a run without --check.
int update_run();
// The name and version the banner shows ("ODD Firmware Update Utility Ver2.57C").
std::string updater_title();

void reset_entry_state();
