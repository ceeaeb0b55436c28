// The simulated host's trace: one JSON line for each thing that happened
// (console bytes, a box and its answer, a command and its outcome, a wait, a
// sleep, a media change notification request, a target found, a drive update
// window opened or closed, a hang), led by the virtual
// time; and the text forms of bytes and outcomes that the emulated drives'
// reports share with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "emulator/virtual_drive.h"

namespace sim {

// Bytes as upper-case hex pairs separated by blanks ("3B 07 F0").
std::string hex_bytes(const uint8_t* bytes, size_t length);

// JSON string literal of raw bytes (bytes >= 0x80 as \u00XX).
std::string json_string(const std::string& bytes);

// How a command ended: "good", "check-condition", "busy", "status" (any
// other status), "timeout" or "transport-failure".
const char* outcome_name(const emu::command_result& r);

// The trace's lines, each at virtual time `t`.
std::string trace_console(uint32_t t, const char* bytes, size_t length);
std::string trace_box(uint32_t t, const std::string& caption, unsigned style, const std::string& text, int answer);
std::string trace_command(uint32_t t, const std::string& drive, const uint8_t* cdb, size_t cdb_length, int direction,
                          uint32_t data_length, uint32_t timeout_ms, const emu::command_result& r,
                          uint32_t system_error = 0);
// A delay of `ms`: "wait" (a timer-period bracket) or "sleep".
std::string trace_delay(uint32_t t, const char* event, uint32_t ms);
std::string trace_notification(uint32_t t, const std::string& path, int flag);
std::string trace_target(uint32_t t, int number, const std::string& device);
std::string trace_update_begin(uint32_t t, const std::string& device);
std::string trace_update_end(uint32_t t, int left_in_update_firmware, bool interrupted);
std::string trace_hang(uint32_t t);

}  // namespace sim
