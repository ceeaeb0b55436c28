// Carrying one CDB with its data to a drive and its status and sense back,
// through the operating system's SCSI pass-through or through the ASPI manager;
// the probes enumeration sends before a target table exists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/host.h"
#include "transport/drive_layout.h"

constexpr int DIRECTION_NONE = 0;
constexpr int DIRECTION_IN = 1;
constexpr int DIRECTION_OUT = 2;

// The drive a command goes to: its number in the run (0 first) and its
// address on the ASPI route (host adapter, SCSI id) and on the pass-through
// route (drive letter). A command to a drive not `known` fails before it leaves.
struct command_target {
    bool known;
    int number;
    int host_adapter;
    int target_id;
    char drive_letter;
};

// How long a command may take: a number of milliseconds, or none given, when
// each route waits its own untimed limit. No value of `ms` means "none".
struct command_timeout {
    bool given = false;
    int32_t ms = 0;
};
// The builders' time-out in milliseconds (command_timeout_ms), where 0 has
// always meant none given: the one place that zero is read.
inline command_timeout timeout_of(int32_t ms) { return ms == 0 ? command_timeout{} : command_timeout{true, ms}; }

struct command_request {
    command_target to;
    int32_t direction;
    int32_t cdb_length;
    command_timeout timeout;
    int32_t data_length;
    void* data;
    uint8_t cdb[16];
};

// The pass-through structure followed by a filler word and the sense area.
struct pass_through_direct_block {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[32];
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(pass_through_direct_block) == 80, "pass-through block with sense area");
static_assert(offsetof(pass_through_direct_block, sptd.Cdb) == 28, "CDB in the pass-through block");
static_assert(offsetof(pass_through_direct_block, sense) == 48, "sense in the pass-through block");
#endif

// The route the commands take on this machine, told by the run as it learns
// it (host detection, the ASPI adapters, the drive's identity block).
extern int win9x_family;      // 1: Windows 95/98/Me, through the ASPI manager; 0: pass-through
extern int intel_ide_driver;  // 1: Intel's IDE driver carries the drives
// The IEEE 1394 route: on the ASPI route the adapter's number, on the
// pass-through route the target whose device showed no SCSI address when
// last opened; -1 none. Read through the two functions below.
extern int ieee1394_adapter;
// The OEM class of the drive being updated (its identity block's signature).
extern int oem_code;
// The IEEE 1394 host adapter of the ASPI route, or -1.
int ieee1394_aspi_adapter();
// True when a drive of the run was reached over IEEE 1394, on either route.
bool ieee1394_in_use();

extern HANDLE device_handle;
extern char device_path[256];
extern SCSI_ADDRESS scsi_address;
extern pass_through_direct_block pass_through_block;
extern HANDLE completion_event;
extern uint8_t last_sense[SENSE_LENGTH];
extern uint32_t last_sense_code;
// Offset of the ASPI execute block in the request-block area; it moves on when
// the manager would not let go of an abandoned request.
extern uint32_t request_block_offset;

// What last_sense says, judged by the bytes the updater decides by: the sense
// key byte whole (not masked), ASC and ASCQ.
enum class sense_category {
    none,                   // key, ASC and ASCQ all zero
    no_medium,              // 02/3A
    initializing_required,  // 02/04/02
    becoming_ready,         // 02/04/01
    not_ready,              // 02, anything else
    unit_attention,         // 06
    other,
};
sense_category last_sense_category();
// True for every category of the not-ready key (02).
bool not_ready(sense_category category);

// Results of every transport operation; callers test only for non-zero.
constexpr int COMMAND_OK = 0;
constexpr int COMMAND_DRIVE_STATUS = 2;  // pass-through: a non-zero SCSI status, its sense in last_sense
constexpr int COMMAND_FAILED = -1;
constexpr int COMMAND_NO_ANSWER = -2;    // pass-through: the device did not open; ASPI: the completion wait ran out

// What became of a command, as far as the route can tell.
enum class outcome_kind {
    not_sent,      // it never left: no such drive, a device that would not open, no request block
    refused,       // the system refused it before it left (no right to send it, a request it does not take)
    lost,          // it may have reached the drive, but no answer came back (a failed call, an abort)
    timed_out,     // no answer came back within its time-out
    answered,      // the drive ended it with its own status (`status`, its sense in last_sense)
};

// One command's outcome: the one value every branch fills and execute_command returns.
struct command_outcome {
    outcome_kind kind = outcome_kind::not_sent;
    int code = COMMAND_FAILED;           // what the builders return, as above
    uint8_t status = 0;                  // the drive's SCSI status, when it answered
    sense_category sense = sense_category::none;  // what its sense says, when it answered
    DWORD system_error = ERROR_SUCCESS;  // the system's own error, when a call failed
    char system_words[48] = {};          // and how the system put it ("errno 5"), for the record
    uint32_t sense_code = 0;             // its sense key << 16 | ASC << 8 | ASCQ, when it answered with some
    uint32_t residual = 0;               // bytes of the data the drive did not move, when it answered
    // What the adapter and the driver said of a call that failed (SG_IO's
    // host and driver status), where the system tells them.
    uint16_t host_status = 0;
    uint16_t driver_status = 0;
    // Only a drive that answered has said anything: an empty sense is then its own word.
    bool drive_answered() const { return kind == outcome_kind::answered; }
    bool failed() const { return code != COMMAND_OK; }
};
// A command the updater would not send, because it could not be built (no
// such model, no buffer, a field that does not fit): refused before it
// left, as the system refuses one it does not take.
command_outcome refused_before_sending();
// The outcome of the command under way, which the routes fill as it goes;
// every command and probe hands its own back when it ends.
extern command_outcome last_outcome;
// How the system put the last failure of a command since the run last forgot
// it (the record forgets it once a drive's line is written): the reason a
// drive failed that its result alone does not say.
extern char last_failure_words[48];
// Notes a failed call's words into the outcome and the above: `words`, or
// when none are given the system's own for its last failed call.
void note_system_words(const char* words = nullptr);

// Every command starts with no sense and, when data comes in, a zeroed buffer,
// so what a caller reads afterwards was said by this command or by nobody.
command_outcome execute_command(command_request* request);
// The path the drive at `letter` is opened by ("\\.\E:"); empty for letter 0,
// a drive reached through the ASPI manager.
std::string drive_device_path(char letter);
// Opens the drive at `letter`, number `target` of the run, into
// device_handle and learns its scsi_address; sets ieee1394_adapter to
// `target` when the device has no SCSI address and to -1 otherwise. 0 with
// the handle open, or -1 with none.
int open_drive_device(char letter, int target);
int close_drive_device();
// Probes of enumeration on the open device, their answer into `answer`
// (INQUIRY_LENGTH, IDENTITY_LENGTH bytes); the code is 0, 2 (non-zero SCSI
// status) or -1.
command_outcome pass_through_inquiry(uint8_t* answer);
command_outcome pass_through_read_drive_info(uint8_t* answer);
// Probes of enumeration through the ASPI manager, likewise: 0 or -1; they keep no sense.
command_outcome aspi_inquiry(int host_adapter, int target_id, uint8_t* answer);
command_outcome aspi_read_drive_info(int host_adapter, int target_id, uint8_t* answer);
// The peripheral type the ASPI manager holds for the device at `host_adapter`,
// `target_id` (no command reaches it), or -1 when it knows no device there.
int aspi_device_type(int host_adapter, int target_id);
// Refreshes last_sense from the pass-through block (NT family) and decodes
// last_sense_code. Always 0.
int fetch_sense();

// The two branches of execute_command and what they share; a request reaches
// them with its target checked and the command begun.
void begin_command(void* data_in, int32_t data_length);
int execute_pass_through(const command_request* request);
int execute_aspi(const command_request* request);
// Replaces last_sense with the sense bytes the pass-through block holds.
void take_block_sense();

void reset_transport_state();
