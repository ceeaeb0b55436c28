// The drives libsgio-emu serves: emulated drives read from a scenario file,
// the device paths that reach them, their answers to SG_IO, the history that
// lets one drive live on across processes, and the report of what each drive
// holds when a process ends.
//
// Environment:
//   ODD_SGIO_SCENARIO  scenario file (docs/scenarios.md, plus the keys in this
//                      folder's README); without it nothing is served
//   ODD_SGIO_STATE     folder keeping each drive's command history, so every
//                      process started with it meets the same drives
//   ODD_SGIO_REPORT    folder receiving, at exit, what each drive this process
//                      talked to holds
#pragma once

#include <scsi/sg.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/virtual_drive.h"
#include "platform/linux/device_map.h"

namespace shim {

// The scenario's letters D: to Z: are /dev/sr0 to /dev/sr22, as the Linux host maps them.
constexpr char FIRST_LETTER = FIRST_DEVICE_LETTER;
constexpr char LAST_LETTER = LAST_DEVICE_LETTER;
// The block device major of SCSI CD-ROM drives, which /dev/srN answer fstat with.
constexpr unsigned SCSI_CDROM_MAJOR = 11;

struct served_drive {
    char letter = 0;
    std::string device;                 // "/dev/srN"
    std::shared_ptr<emu::virtual_drive> drive;

    // A real path whose descriptors reach this drive too (a stand-in device
    // that another program opens for the drive), matched by identity.
    std::string stand_in;
    bool stand_in_exists = false;
    bool stand_in_is_device = false;
    dev_t stand_in_rdev = 0, stand_in_dev = 0;
    ino_t stand_in_ino = 0;

    bool descriptor_sense = false;      // sense goes out in descriptor format
    int open_errno = 0;                 // opening the drive fails with this errno
    // The block layer's exclusive claim (O_EXCL): another program holds it
    // for good (the scenario's "held_by_another"), or this process holds it
    // through `exclusive_fd` and an flock on the drive's claim file in the
    // state folder, which other processes meet.
    bool held_by_another = false;
    int exclusive_fd = -1;
    int claim_lock = -1;
    int sg_io_errno = 0;                // SG_IO fails with this errno ...
    int sg_io_errno_opcode = -1;        // ... for this opcode only (-1: every command)
    // After this many commands of this process the drive is detached and
    // attached again: descriptors opened before fail with ENODEV (0: never).
    uint32_t reattach_after = 0;
    // ... and its name then leads to a device at another address (another drive, as sysfs tells it).
    bool reattach_as_another = false;
    bool sysfs_linked = false;          // its sysfs device is there for this process
    uint32_t attachment = 0;            // how many times it came back
    uint32_t commands_here = 0;
    int lowest_descriptor = -1;         // the lowest descriptor this process's commands came through

    // This process's share of the drive's life.
    size_t first_command = 0;           // index in the drive's log of this process's first command
    // When each WRITE BUFFER mode 7 block entered its SG_IO and returned.
    std::vector<uint64_t> block_entered_ns, block_left_ns;
    int journal = -1;                   // descriptor of the drive's journal (drive_journal.h), -1: none
};

// Where a device path leads.
constexpr int PATH_NOT_SERVED = -1;  // an ordinary path for the C library
constexpr int PATH_ABSENT = -2;      // a /dev/srN the scenario has no drive for

class drive_table {
  public:
    // Reads the environment and the scenario. Returns false, with `error`
    // set, when a scenario is named but cannot be used.
    bool load(std::string& error);
    bool active() const { return active_; }

    // The drive index for a path opened by name (an emulated /dev/srN or a
    // stand-in that does not exist), PATH_ABSENT or PATH_NOT_SERVED.
    int drive_for_path(const char* path) const;
    // The drive a descriptor opened elsewhere reaches through a stand-in, or -1.
    int drive_for_identity(const struct stat& status) const;
    bool has_stand_ins() const { return stand_ins_; }
    // Whether the emulated machine grants this process CAP_SYS_RAWIO (the
    // scenario's "cap_sys_rawio", true unless it says false).
    bool raw_io_granted() const { return raw_io_; }

    served_drive& operator[](int index) { return drives_[static_cast<size_t>(index)]; }
    // Links the drive's device in the case's sysfs, unless a process did before.
    void link_sysfs(int index);

    // The drive's exclusive claim taken for an O_EXCL open: 0, or EBUSY when
    // another open file holds it (in this process or, through the state
    // folder, in another one), as the block layer refuses it before the
    // driver's open. release_claim lets it go with the descriptor that held it.
    int take_claim(int index);
    void release_claim(int index);

    // Answers one SG_IO request on a descriptor opened during `attachment`
    // of the drive. `entered_ns` is when the caller's ioctl began. Returns 0
    // (the request filled in as the kernel would) or the errno the ioctl
    // fails with.
    int answer_sg_io(int index, uint32_t attachment, sg_io_hdr_t& request, uint64_t entered_ns);

    // Writes the report for every drive this process sent commands to.
    void write_report();

  private:
    // The scenario's drives at D: to Z:, with the shim's own drive keys.
    bool load_drives(const std::string& scenario_path, std::string& error);

    bool active_ = false;
    bool stand_ins_ = false;
    bool raw_io_ = true;
    std::vector<served_drive> drives_;
    std::string state_folder_;
    std::string report_folder_;
    std::mutex mutex_;
};

// Fixed-format sense (0x70, 0x71) in descriptor format (0x72, 0x73), with the
// information, sense-key-specific and stream fields as descriptors. Returns
// the number of bytes written to `out` (at most `capacity`).
size_t descriptor_format_sense(const uint8_t* fixed, size_t length, uint8_t* out, size_t capacity);

uint64_t monotonic_ns();

}  // namespace shim
