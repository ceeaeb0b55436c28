// An emulated drive of a scenario served to a real kernel (behind its SCSI
// target, or on a USB gadget): the drive's own commands answered by the
// emulator, the commands a kernel sends of its own accord as an empty DVD
// recorder answers them, and a report beside it, as the SG_IO shim's is:
// LETTER.commands (every command with its result, the kernel's own marked
// "kernel"), LETTER.state and LETTER.image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/virtual_drive.h"

namespace served {

// The answer to one command: status, sense, data in.
struct answer {
    emu::command_result result;
    std::vector<uint8_t> data_in;
    bool kernel = false;  // a command the kernel sends of its own accord, answered here
};

class drive {
  public:
    drive(std::shared_ptr<emu::virtual_drive> emulated, char letter, std::string folder);

    // Answers one command; `data` holds what the initiator sent, or room for what it reads.
    answer run(const uint8_t* cdb, size_t length, std::vector<uint8_t>& data, bool data_out);
    // Answers the REQUEST SENSE a USB host sends of its own accord after a
    // CHECK CONDITION: that command's sense, as a drive keeps it.
    answer sense_of_last(const uint8_t* cdb, size_t length, size_t allocation);

  private:
    // The image blocks of the latest transfer (one starts at offset 0): when
    // each came in and when the drive had answered it, for the state's
    // timing lines (a transfer's speed seen from the drive's end).
    struct block_time {
        uint64_t arrived_ns, answered_ns;
    };
    void time_block(const uint8_t* cdb, size_t length, uint64_t arrived_ns);

    void journal(const uint8_t* cdb, size_t length, size_t data_length, bool data_out, const answer& a);
    void write_state();

    std::shared_ptr<emu::virtual_drive> drive_;
    std::string base_;
    uint64_t started_ms_;
    uint32_t images_written_ = 0;
    std::vector<block_time> blocks_;
    uint8_t last_sense_[18] = {0x70, 0, 0, 0, 0, 0, 0, 10};  // no sense until a CHECK CONDITION
};

// The drive INDEX of the scenario file (its images left to the program that
// updates it), reporting into FOLDER; exits the process with 2 and a line on
// standard error, naming `program`, when it cannot.
std::unique_ptr<drive> load_drive(const char* program, const char* scenario, const char* index, const char* folder);

uint64_t now_ms();
uint64_t now_ns();

}  // namespace served
