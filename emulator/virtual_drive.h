// A virtual optical drive of the model the updater serves. It takes one CDB at a
// time with its data and answers with a SCSI status, data and fixed-format
// sense, under a virtual clock that the caller owns. Its behaviour is data
// (drive_config), so the simulated host, the ASPI manager emulation and the SG_IO
// shim all describe drives the same way. It depends on nothing but the C++
// standard library. It keeps its own copy of the model's facts (identity,
// mode block, access values) on purpose, not src/model's: it plays the drive,
// an oracle independent of what the updater believes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace emu {

constexpr uint32_t IMAGE_BUFFER_SIZE = 8u * 1024 * 1024;  // buffer 0xF0 of the real drive

constexpr int DIR_NONE = 0;  // no data phase
constexpr int DIR_IN = 1;    // data from the drive
constexpr int DIR_OUT = 2;   // data to the drive

constexpr uint8_t STATUS_GOOD = 0x00;
constexpr uint8_t STATUS_CHECK_CONDITION = 0x02;
constexpr uint8_t STATUS_BUSY = 0x08;

// How a single command can be made to fail, by its 1-based number among all
// commands the drive has received (see drive_config::injected).
enum class fault_kind {
    check_condition,  // CHECK CONDITION with the sense given in the fault
    transport,        // the call never reaches the drive: the host's call fails
    timeout,          // the drive never answers: the command runs into its time-out
    busy,             // BUSY status, no sense
    refused,          // the system refuses the command before it leaves (EPERM, access denied)
    good_with_residual,  // a WRITE BUFFER whose data the drive takes only the first half of, answering
                         // as to that length (GOOD for an image block): the rest is a residual
};

struct injected_fault {
    uint32_t command_number = 0;  // 1-based; 0 never matches
    fault_kind kind = fault_kind::check_condition;
    uint8_t key = 0x04, asc = 0x44, ascq = 0x00;  // for check_condition (default: hardware error)
    // When not empty, command_number counts only the commands whose CDB
    // starts with these bytes (a kernel's own commands then do not shift it).
    std::vector<uint8_t> cdb_prefix;
};

struct drive_config {
    // INQUIRY (96 bytes): peripheral byte, vendor (8), product (16), revision (4),
    // byte 36, date text from byte 37 (8 characters "YY/MM/DD" or 10 "YYYY/MM/DD").
    uint8_t peripheral = 0x05;
    std::string vendor = "QUARLEN ";
    std::string product = "DVD-RW  KWR-322 ";
    std::string revision = "1.23";
    char revision_suffix = ' ';
    std::string date = "08/07/25";
    uint32_t inquiry_length = 96;  // bytes the drive returns (a short answer when < 96)

    // Identity block (READ BUFFER mode 2, buffer 0xF1, 48 bytes).
    std::string hardware_revision = "ATAPI123";  // bytes 16..23
    std::string signature = "QUA_ADV ";          // bytes 24..31
    std::string update_vendor = "QUA_ADV ";      // bytes 32..39 (blank in update firmware)
    bool identity_readable = true;               // false: READ BUFFER 0xF1 refused

    // Answers a real drive gave, served byte for byte (as many bytes as
    // given) instead of the ones made from the fields above, until the
    // drive's firmware changes (it is switched, or re-flashed); empty: none.
    std::vector<uint8_t> recorded_inquiry;
    std::vector<uint8_t> recorded_identity;

    // What the drive's update firmware checks in the 256-byte mode block.
    std::string model_string = "QUARLEN  KWR-322";
    uint32_t access_code = 0x5E3A91C4;
    bool starts_in_update_mode = false;  // the drive already runs its update firmware

    // Image store and re-flash.
    uint32_t image_capacity = IMAGE_BUFFER_SIZE;  // bytes of buffer 0xF0
    uint32_t expected_image_size = 0;            // 0: whatever arrived contiguously (at least a header)
    uint32_t block_ms = 20;                      // virtual time per mode-7 block
    uint32_t leave_command_ms = 500;             // virtual time of the mode-5 command itself
    uint32_t reflash_ms = 2000;                  // not ready this long after mode 5 is accepted

    // Faults.
    int refuse_block = -1;            // 0-based mode-7 block index refused with CHECK CONDITION
    bool refused_block_restarts = false;  // the refused block sends the drive back to its normal firmware
    bool refuse_entry = false;        // mode 4 refused
    bool refuse_leave = false;        // mode 5 refused
    uint8_t refuse_leave_key = 0x05;  // sense key of a refused leave (2 and 6 are excused on IEEE 1394)
    bool refuse_leave_after_reflash = false;  // with refuse_leave: the drive re-flashes all the same, only its answer is lost
    bool stay_in_update_mode = false;  // after the re-flash the drive still runs its update firmware
    int inquiry_failures_after_restart = 0;  // INQUIRY fails (NOT READY) this many times after re-flash
    int unit_attention_count = 0;     // the first K commands after power-on (or restart) get 06/29/00
    int ready_test_unit_attentions = 0;  // TEST UNIT READY alone answers 06/29/00 this many times
    bool refused_leave_restarts = false;  // with refuse_leave: the drive restarts into its old firmware unflashed
    uint32_t inquiry_length_after_restart = 0;  // INQUIRY bytes returned after a re-flash; 0: inquiry_length
    std::string revision_after_restart;  // the revision the new firmware reports; empty: the image's
    std::string revision_suffix_after_restart;  // its fifth character (one); empty: the image's
    std::string date_after_restart;      // the date it reports; empty: the image's, in the drive's own form
    std::string vendor_after_restart;    // the vendor and product it reports; empty: as before
    std::string product_after_restart;
    bool disc_present = false;        // TEST UNIT READY succeeds
    bool becoming_ready = false;      // TEST UNIT READY: 02/04/01
    std::vector<injected_fault> injected;
};

struct command_result {
    uint8_t status = STATUS_GOOD;
    uint8_t sense[18] = {};        // fixed format (0x70), valid when status is CHECK CONDITION
    uint32_t sense_length = 0;     // 18 with CHECK CONDITION, else 0
    uint32_t transferred = 0;      // data bytes moved
    uint32_t duration_ms = 0;      // virtual time the command took (the caller advances its clock)
    bool transport_failure = false;  // the command did not reach the drive
    bool refused = false;          // and the host's call says so: it was refused before it left
    bool timed_out = false;        // the drive did not answer within timeout_ms
};

// CHECK CONDITION with fixed-format sense KEY/ASC/ASCQ, as every emulated drive answers it.
command_result check_condition(uint8_t key, uint8_t asc, uint8_t ascq);

struct command_record {
    std::vector<uint8_t> cdb;
    int direction = DIR_NONE;
    uint32_t data_length = 0;
    uint32_t timeout_ms = 0;
    uint64_t at_ms = 0;
    command_result result;
    std::vector<uint8_t> data_out;  // for mode-4/5 blocks only (256 bytes); image blocks are not copied
    const void* data_address = nullptr;  // the caller's buffer, to show where a block was sent from
};

// Gives back the memory of buffer 0xF0, `size` bytes (see virtual_drive.cpp).
struct image_memory_release {
    size_t size = 0;
    void operator()(uint8_t* bytes) const;
};
using image_memory = std::unique_ptr<uint8_t[], image_memory_release>;

class virtual_drive {
  public:
    explicit virtual_drive(drive_config config);

    // Runs one command. `data` is the caller's buffer of `data_length` bytes
    // (written for DIR_IN, read for DIR_OUT). `timeout_ms` 0 means no limit.
    // `now_ms` is the caller's virtual clock at the start of the command.
    command_result execute(const uint8_t* cdb, size_t cdb_length, int direction, uint8_t* data,
                           uint32_t data_length, uint32_t timeout_ms, uint64_t now_ms);

    const drive_config& config() const { return config_; }
    const std::vector<command_record>& log() const { return log_; }

    bool in_update_mode() const { return update_mode_; }
    // The revision the drive now reports in INQUIRY bytes 32..35.
    std::string reported_revision() const;
    std::string reported_date() const;
    // Bytes received through mode-7 blocks since the last entry into update mode.
    std::vector<uint8_t> received_image() const {
        return std::vector<uint8_t>(image_buffer_.get(), image_buffer_.get() + received_size_);
    }
    size_t received_size() const { return received_size_; }
    // The image the drive last re-flashed itself with (empty before any).
    const std::vector<uint8_t>& flashed_image() const { return flashed_; }
    uint32_t reflash_count() const { return reflash_count_; }

    // Access values the drive's firmware expects in the mode block, from its signature.
    static uint32_t entry_access_value(const std::string& signature, uint32_t access_code);
    static uint32_t leave_access_value(const std::string& signature, uint32_t access_code);

  private:
    command_result answer(const uint8_t* cdb, size_t cdb_length, int direction, uint8_t* data,
                          uint32_t data_length, uint64_t now_ms);
    command_result inquiry(const uint8_t* cdb, int direction, uint8_t* data, uint32_t data_length);
    command_result read_buffer(const uint8_t* cdb, int direction, uint8_t* data, uint32_t data_length);
    command_result write_buffer(const uint8_t* cdb, int direction, const uint8_t* data,
                                uint32_t data_length, uint64_t now_ms);
    command_result enter_update_mode(uint32_t offset, const uint8_t* block, uint32_t length);
    command_result store_block(uint32_t offset, const uint8_t* bytes, uint32_t length);
    command_result leave_update_mode(uint32_t offset, const uint8_t* block, uint32_t length, uint64_t now_ms);
    bool mode_block_matches(const uint8_t* block, uint32_t access_value) const;
    void back_to_normal_firmware();
    void prepare_image_buffer();
    void grow_image_buffer(size_t size);

    drive_config config_;
    std::vector<command_record> log_;
    bool update_mode_ = false;
    bool recorded_answers_ = true;  // the recorded answers stand until the firmware changes
    image_memory image_buffer_;  // buffer 0xF0: the image received so far is its first received_size_ bytes
    size_t received_size_ = 0;
    std::vector<uint8_t> flashed_;
    uint32_t reflash_count_ = 0;
    uint64_t busy_until_ms_ = 0;  // re-flashing: NOT READY until then
    int unit_attention_left_ = 0;
    int inquiry_failures_left_ = 0;
    int ready_test_attentions_left_ = 0;
    uint32_t inquiry_length_ = 96;
    int blocks_received_ = 0;
    std::string revision_;
    char revision_suffix_ = ' ';
    std::string date_;
    std::string update_vendor_;
};

// The first lines of a drive's report, as the tools that serve drives write
// it (LETTER.state): revision, date, update_mode, reflash_count,
// received_bytes, flashed_bytes, each "key value" on a line.
std::string state_lines(const virtual_drive& drive);

}  // namespace emu
