// The update of one drive: the procedure, the media check, the switch into
// update mode, the transfer of the image and the re-flash.
#pragma once

#include <cstdint>

#include "discovery/drive_outcome.h"
#include "image/firmware_image.h"
#include "messages/messages.h"
#include "model/drive_model.h"
#include "platform/working_buffer.h"

// Results of update_drive; any value but DRIVE_UPDATED and RUN_STOPPED leaves
// the drive out of the count and the run goes on.
constexpr int DRIVE_UPDATED = 0;
constexpr int DRIVE_LEFT_AS_IS = 1;  // not identified, refused by the checks, or a disc in it
constexpr int DRIVE_UP_TO_DATE = 8;  // it holds the image's release already
constexpr int RUN_STOPPED = -1;
constexpr int DRIVE_DECLINED = 7;    // the user said No to its update (IDNO)
constexpr int RUN_ABANDONED = -2;    // a question could not be shown: the run ends, nobody having answered

// The update of the drive at current_target, one of `models`; `update_all`
// 1 when every drive was agreed to at once (no question per drive).
// `outcome` gets what became of the drive, as it happens; `image` is the
// image as last read, and gets each load of this drive's image.
int update_drive(const model_rows& models, int update_all, loaded_image& image, drive_outcome& outcome);
// Called once the drive is identified, or could not be, before anything
// else is sent to it (the run's record of the drive as found), with the image
// as last read; null: nothing.
extern void (*drive_identified)(const loaded_image& image);
// Set when an interrupt (Ctrl-C, a signal) was held during a drive's update:
// that drive's result stands, and the run stops before the next drive.
extern int interrupt_held;
// Called as each drive enters its update window, before anything is sent
// there (the run's record of the drive as `updating`), with the image it is
// to be sent; null: nothing.
extern void (*entering_update_window)(const loaded_image& image);
// Tells the platform what is now known of the drive at `target`: 1 when it
// runs, or may run, its update firmware (kept in the target table).
void note_drive_firmware(int target, int in_update_firmware);
// Each step below that sends commands hands back, in `failed` when given,
// the outcome of the command it failed by: one not sent when it failed
// before sending any.

// 0 when no disc is in the drive, -1 after its message otherwise, with
// `why` (when given) saying what was met.
int media_check(outcome_reason* why = nullptr, command_outcome* failed = nullptr);
// The update question's fields for the drive at current_target and `image`.
message_fields update_question_fields(const image_header& image);
// 0, or the entry command's failure code after message 14.
int enter_update_mode(uint32_t model_code, command_outcome* failed = nullptr);
// 0 when the drive answers as its update firmware (sets update_mode), 1 when it
// answers otherwise, -1 when its INQUIRY failed (after message 9).
int check_update_mode(command_outcome* failed = nullptr);
// Sends `image` in blocks: 0 when every block was accepted, -1 after message
// 42, with the number of the refused block (0 first) in `refused_block` when given.
int transfer_image(const loaded_image& image, int* refused_block = nullptr, command_outcome* failed = nullptr);
// 0 (also for an excused failure), or the leave command's failure code after message 15.
int leave_update_mode(uint32_t model_code, command_outcome* failed = nullptr);
void settle_wait(int leave_result);

constexpr uint32_t MODE_BLOCK_SIZE = 256;
// The mode block of the commands that switch the drive (the small buffer),
// taken with the host's working buffers.
extern working_buffer small_buffer;
constexpr uint32_t NT_SMALL_SIZE = 512;
void reset_update_mode_state();

// The current release when it is the row of `model_code` (the drive's own
// model), or null: a switch is never made with another model's facts.
const model_row* find_update_model(uint32_t model_code);
// The access value for the signature in drive_info bytes 24..31; `rules` ends with a null signature.
uint32_t access_value(const access_rule* rules, uint32_t access_code);
// Fills the mode block in the small buffer: model string, access value
// little-endian, zeros. Returns -1 when there is no small buffer.
int build_mode_block(const model_row& model, uint32_t value);
