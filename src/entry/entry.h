// The run: the built-in firmware descriptor, the run state, the target loop
// and the millisecond delay every other folder waits with.
#pragma once

#include <cstdint>
#include <string>

constexpr int MAX_MODEL_ROWS = 8;

// One drive model this build can update, and the release it installs there.
// Text fields are blank-padded without a terminator, compared over their width.
struct model_row {
    char image_file_name[128];  // zero-terminated
    char update_vendor[8];
    char vendor_id[8];
    char product_id[16];
    uint32_t model_code;
    uint32_t minimum_image_date;  // BCD 0xYYYYMMDD
    uint32_t access_code;
};

extern model_row firmware_descriptor[MAX_MODEL_ROWS];
extern int release_count;

extern uint32_t oem_code_page;
extern int update_all;
extern int updated_count;
// True when an interrupt held during a drive's update stopped the run before
// the next drive (a host that ends by the signal then does so).
extern bool run_stopped_by_interrupt;
extern uint16_t image_version;  // 0xMmm: the release's version, then the loaded image's

// Exit code of a run with the fleet options: a check found a drive the
// update applies to, or an unattended run left a drive as it is for a reason
// other than being up to date.
constexpr int EXIT_LOOK_AT_THIS_MACHINE = 3;
// A wrong argument: an unknown option, or a record that would be the image.
constexpr int EXIT_USAGE = 2;
// With the fleet options: try again later (another run holds the machine),
// and the image is not this build's.
constexpr int EXIT_TRY_AGAIN_LATER = 5;
constexpr int EXIT_IMAGE_REFUSED = 6;

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
// Busy-waits at least `ms` milliseconds on the multimedia clock.
void wait_ms(uint32_t ms);

void reset_entry_state();
