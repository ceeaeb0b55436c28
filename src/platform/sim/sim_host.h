// The simulated host: a whole Windows-like machine in memory behind the platform
// table, with a virtual millisecond clock, scripted answers to message boxes,
// a captured console, a registry of listed keys, global memory with counted
// blocks, image files read from a real folder, an ASPI manager with adapters,
// emulated drives at drive letters or at (adapter, SCSI id), and the drive
// update windows, during which a scenario can make an interrupt arrive. Everything it
// is asked is recorded, so a test can check what reached the user and the
// drives, and that nothing was left open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "emulator/aspi_manager.h"
#include "emulator/virtual_drive.h"
#include "platform/host.h"
#include "platform/sim/trace.h"

namespace sim {

using adapter_config = emu::aspi_adapter;

struct drive_slot {
    std::string name;        // shown in the trace ("E:" or "1:0" when left empty)
    char letter = 0;         // pass-through: the drive letter, 0 for none
    int adapter = -1;        // ASPI: host adapter number, -1 for none
    int target = -1;         // ASPI: SCSI id
    bool open_fails = false;           // CreateFileA on its device path fails
    DWORD open_error = ERROR_ACCESS_DENIED;
    bool held_by_another = false;      // another program or run holds its device: opened to be commanded, it is in use
    DWORD capabilities_error = 0;      // IOCTL_SCSI_GET_CAPABILITIES fails with this error
    DWORD address_error = 0;           // IOCTL_SCSI_GET_ADDRESS fails with this error (50: IEEE 1394)
    bool vanishes_after_command = false;  // every open after the next command fails (unplugged)
    bool vanished = false;
    std::string serial;      // the serial number the system holds for it ("": none)
    std::string device_name;  // the system's own name of its device ("/dev/sr1" on Linux; "": none)
    std::shared_ptr<emu::virtual_drive> drive;
    // After this many commands the drive is unplugged and `replacement`,
    // another drive, takes its letter at once (0: never). Windows tells the
    // two apart by their device numbers (`attachment` here), with no command.
    uint32_t replaced_after_command = 0;
    std::shared_ptr<emu::virtual_drive> replacement;
    uint32_t commands = 0;
    uint32_t attachment = 0;
    // The attachment the run first opened the letter to (-1: not yet), and
    // whether the letter then led to another: nothing more goes there.
    int64_t found_attachment = -1;
    bool lost = false;
    // The drive that answers at the letter now.
    emu::virtual_drive& serving() const { return attachment > 0 && replacement ? *replacement : *drive; }
};

struct config {
    DWORD platform_id = VER_PLATFORM_WIN32_NT;
    DWORD major_version = 5;
    DWORD minor_version = 1;
    DWORD build_number = 2600;
    UINT oem_code_page = 437;
    UINT finest_timer_period = 1;      // timeBeginPeriod accepts this period and coarser ones; 0 accepts none
    uint32_t clock_start_ms = 0x00100000;
    std::vector<int> answers;          // MessageBoxA answers in order; when they run out a box returns 0
    std::vector<std::string> registry_keys;  // HKEY_LOCAL_MACHINE sub-keys that exist
    bool aspi_present = false;         // WNASPI32.DLL can be loaded
    int aspi_status = SS_COMP;         // manager status in bits 8-15 of the support information
    int aspi_adapter_count = -1;       // adapters reported; -1: as many as listed
    std::vector<adapter_config> adapters;
    uint32_t aspi_manager_timeout_ms = 60000;  // the manager gives up on a drive that never answers
    uint32_t aspi_abort_ms = 0;        // an aborted request ends this much later, or emu::ABORT_NEVER
    int fail_allocation = 0;           // the Nth GlobalAlloc (1-based) fails; 0 never
    std::string directory;             // folder the utility runs in (image files); empty: process cwd
    std::map<std::string, std::vector<uint8_t>> files;  // files held in memory, found before the folder's
    bool file_size_fails = false;      // GetFileSize on an image file fails
    uint32_t file_read_shortfall = 0;  // ReadFile delivers this many bytes fewer than asked
    int interrupt_in_update = 0;       // an interrupt arrives during the Nth drive update window (1-based); 0 never
    bool another_run = false;          // another run of the updater holds the machine's drives
    bool console_redirected = false;   // the console's text goes to a file, not a window
};

struct box_record {
    std::string caption;
    std::string text;
    UINT style = 0;
    int answer = 0;
};

struct notification_request {
    std::string path;
    HANDLE handle = nullptr;
    int flag = -1;  // the one-byte PREVENT_MEDIA_REMOVAL flag
    bool succeeded = false;
};

// One drive update window as the updater opened and closed it.
struct update_window {
    std::string device;
    size_t commands_at_begin = 0;      // commands the host had run when it opened
    size_t commands_at_end = 0;        // and when it closed
    int left_in_update_firmware = -1;  // as told at the close; -1 while open
    bool interrupted = false;          // an interrupt was held during it
};

// What the virtual ASPI manager serves from a scenario's machine.
emu::aspi_settings aspi_settings_of(const config& cfg);

// The error a pass-through call fails with for a command that did not end
// with the drive's status; ERROR_SUCCESS for one that did.
DWORD pass_through_error(const emu::command_result& r);

class machine : private emu::aspi_owner {
  public:
    machine();
    ~machine();
    machine(const machine&) = delete;
    machine& operator=(const machine&) = delete;

    config cfg;
    std::vector<drive_slot> drives;

    // Adds an emulated drive at a drive letter or ASPI address and returns its slot.
    drive_slot& add_drive_at_letter(char letter, const emu::drive_config& drive = {});
    drive_slot& add_drive_at_address(int adapter, int target, const emu::drive_config& drive = {});
    emu::virtual_drive& drive(size_t index) { return *drives.at(index).drive; }

    // Installs this host's table and makes it the current simulated host.
    void install();

    // What was recorded.
    std::string console;                 // every byte written to the console
    std::vector<box_record> boxes;
    std::vector<uint32_t> waits;         // length of every timer-period bracket (a wait_ms)
    std::vector<UINT> timer_periods;     // every period accepted by timeBeginPeriod
    std::vector<uint32_t> sleeps;
    std::vector<notification_request> notifications;
    std::vector<update_window> update_windows;
    std::vector<std::string> targets_found;  // each target's device path, in the order numbered
    // What the updater last told of each target's firmware, by number: 1 runs
    // or may run its update firmware; and the notice that names it then.
    std::map<int, int> firmware_states;
    int last_state_told = 0;  // the number of the drive drive_firmware_state named last
    std::map<int, std::string> firmware_notices;
    std::vector<std::string> notices;    // every line written to standard error
    // The record's last line a real host appends when the run is ended from outside, as last prepared.
    std::string last_record_path, last_record_line;
    // The record kept open for the run (keep_record_open), by its path.
    std::string kept_record_path;
    std::shared_ptr<std::FILE> kept_record;
    std::filesystem::path kept_record_file;  // the file the path led to then
    // The record on standard output (a log named "-"): the console's echo
    // then goes to the box echo, as a real host's console text goes to
    // standard error, and the record's bytes here and to the console echo.
    bool record_on_standard_output = false;
    std::string standard_output_record;
    bool claimed_to_read_only = false;  // the run said it sends only commands that read
    // The record file as a real host would leave it were the run ended from
    // outside at each question (the exit code 130 of an interrupt).
    std::vector<std::string> records_ended_at_questions;
    // And were it ended after each step the run takes on its record (a line
    // written, the last lines prepared), unless the run holds its ways out.
    std::vector<std::string> records_ended_between_steps;
    int ways_out_held = 0;
    // The lines a real host writes when the run ends: one for each drive last told in its update firmware.
    std::vector<std::string> left_drive_notices() const;
    size_t commands_run = 0;             // on every drive, by any route
    std::vector<std::string> opened_keys;
    uint64_t elapsed_ms = 0;             // virtual time since the host started
    uint32_t now_ms() const { return static_cast<uint32_t>(cfg.clock_start_ms + elapsed_ms); }
    bool hung = false;                   // a wait was made that nothing could ever end

    // Resources still held by the utility.
    int open_handles() const;            // devices, files and notification handles
    int open_events() const;
    int open_keys() const { return open_keys_; }
    int live_global_blocks() const { return static_cast<int>(blocks_.size()); }
    int open_timer_periods() const { return open_periods_; }
    int global_allocations() const { return allocations_; }

    // The trace: JSON Lines of console writes, boxes, commands and waits.
    void set_trace(std::ostream* out) { trace_ = out; }
    // Echo of console bytes and boxes as they happen (the simulator's stdout and stderr).
    std::ostream* console_echo = nullptr;
    std::ostream* box_echo = nullptr;
    void trace_line(const std::string& json);

    // --- implementation state used by the table's functions ---
    struct handle_info {
        enum kind_t { device, notification, image_file, event, key } kind;
        explicit handle_info(kind_t k) : kind(k) {}
        int slot = -1;            // drive slot for devices and notification handles
        uint32_t attachment = 0;  // the slot's attachment the device was opened to
        std::string path;
        std::FILE* file = nullptr;
        const std::vector<uint8_t>* memory = nullptr;  // a file held in memory
        size_t position = 0;
        bool signalled = false;
        bool notification_off = false;
    };
    std::map<uintptr_t, handle_info> handles_;
    uintptr_t next_handle_ = 0x1000;
    DWORD last_error_ = 0;
    size_t next_answer_ = 0;
    int open_keys_ = 0;
    int open_periods_ = 0;
    std::vector<UINT> period_stack_;
    uint32_t bracket_first_read_ = 0;
    uint32_t bracket_last_read_ = 0;
    bool bracket_read_ = false;
    std::map<uintptr_t, std::vector<uint8_t>> blocks_;
    int allocations_ = 0;
    std::ostream* trace_ = nullptr;
    // The ASPI manager runs under the virtual clock; an ended request's event is a recorded one.
    emu::aspi_manager aspi_{*this};
    const std::vector<emu::aspi_manager::request>& pending_ = aspi_.pending();  // ASPI requests not yet ended

    HANDLE new_handle(handle_info info);
    handle_info* find_handle(HANDLE h);
    int slot_for_path(const std::string& path) const;
    int slot_for_address(int adapter, int target) const;
    // Runs a command on a drive slot at the current virtual time and logs it;
    // a pass-through call's line names the error the call fails with.
    emu::command_result run_command(int slot, const uint8_t* cdb, size_t cdb_length, int direction,
                                    uint8_t* data, uint32_t data_length, uint32_t timeout_ms,
                                    bool pass_through_call = false);
    void advance(uint32_t ms);  // moves the clock and ends the ASPI requests that are due

  private:
    emu::aspi_settings settings() const override { return aspi_settings_of(cfg); }
    uint64_t clock_ms() const override { return elapsed_ms; }
    int drive_at(int adapter, int target) const override { return slot_for_address(adapter, target); }
    uint8_t device_type(int drive) const override { return drives[static_cast<size_t>(drive)].drive->config().peripheral; }
    emu::command_result run(int drive, const uint8_t* cdb, size_t cdb_length, int direction, uint8_t* data,
                            uint32_t data_length) override {
        return run_command(drive, cdb, cdb_length, direction, data, data_length, 0);
    }
    void signal(void* event) override;
};

// The host the table's functions act on (the one installed last).
machine* current();

}  // namespace sim
