// The run: the built-in firmware descriptor, the run state, the target loop
// and the millisecond delay every other folder waits with.
#pragma once

#include <cstdint>
#include <string>

#include "model/drive_model.h"

extern model_row firmware_descriptor[MAX_MODEL_ROWS];
extern int release_count;
// The descriptor's filled rows, as identification takes them.
model_rows descriptor_rows();

extern int update_all;
extern int updated_count;
// True when an interrupt held during a drive's update stopped the run before
// the next drive (a host that ends by the signal then does so).
extern bool run_stopped_by_interrupt;

// Exit codes of a run with --check or --yes, which a deployment tool acts on
// (an interactive run keeps 0 and 1). When several apply, the most urgent
// wins, in the order of FLEET_URGENCY.
constexpr int EXIT_UP_TO_DATE = 0;            // every drive of this model is up to date, now or after the run
constexpr int EXIT_UPDATE_FAILED = 1;         // an update failed; every drive is back in a working firmware
constexpr int EXIT_USAGE = 2;                 // a wrong argument (any run), or a record that would be the image
constexpr int EXIT_UPDATE_APPLIES = 3;        // --check: an update applies
constexpr int EXIT_NOTHING_HERE = 4;          // no drive of this model, or none this build can update
constexpr int EXIT_TRY_AGAIN_LATER = 5;       // a disc, a drive not ready or unreadable, another run
constexpr int EXIT_IMAGE_REFUSED = 6;         // the image is missing, damaged or not this build's
constexpr int EXIT_LEFT_IN_UPDATE_FIRMWARE = 7;  // a drive is, or may be, in its update firmware: a person is needed
constexpr int FLEET_URGENCY[] = {EXIT_LEFT_IN_UPDATE_FIRMWARE, EXIT_UPDATE_FAILED, EXIT_IMAGE_REFUSED,
                                 EXIT_TRY_AGAIN_LATER,         EXIT_UPDATE_APPLIES, EXIT_NOTHING_HERE,
                                 EXIT_UP_TO_DATE};
// The more urgent of two fleet exit codes.
int more_urgent(int a, int b);

// Before the first command to any drive: the machine claimed for this run,
// a record that is not the image, the image read once and vetted. 0 to go
// on, else the run's exit code after its one line.
int open_run();

// The program entry of every build: returns the exit code (0, 1, or 3 with
// the fleet options); options.h holds what the command line asked.
int updater_main(int argc, char** argv);
// The update of every drive, as a run without --check.
int update_run();
// The check of every drive (--check): one line each on the console, nothing
// sent that changes a drive. 0 none needs the update, 3 some do, 1 no drive
// or no image.
int check_run();
// The name and version the banner shows ("ODD Firmware Update Utility Ver2.57C").
std::string updater_title();
void init_firmware_descriptor();

void reset_entry_state();
