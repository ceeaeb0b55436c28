// Formats the simulated host's trace lines.
#include "platform/sim/trace.h"

namespace sim {
namespace {

std::string line_start(uint32_t t, const char* event) {
    return "{\"t\":" + std::to_string(t) + ",\"ev\":\"" + event + "\"";
}

}  // namespace

std::string hex_bytes(const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        if (i) out += ' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string json_string(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : bytes) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x80) {
                out += "\\u00";
                out += digits[c >> 4];
                out += digits[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

const char* outcome_name(const emu::command_result& r) {
    if (r.transport_failure) return "transport-failure";
    if (r.timed_out) return "timeout";
    if (r.status == emu::STATUS_GOOD) return "good";
    if (r.status == emu::STATUS_CHECK_CONDITION) return "check-condition";
    if (r.status == emu::STATUS_BUSY) return "busy";
    return "status";
}

std::string trace_console(uint32_t t, const char* bytes, size_t length) {
    return line_start(t, "console") + ",\"text\":" + json_string(std::string(bytes, length)) + "}";
}

std::string trace_box(uint32_t t, const std::string& caption, unsigned style, const std::string& text, int answer) {
    return line_start(t, "box") + ",\"caption\":" + json_string(caption) + ",\"style\":" + std::to_string(style) +
           ",\"text\":" + json_string(text) + ",\"answer\":" + std::to_string(answer) + "}";
}

std::string trace_command(uint32_t t, const std::string& drive, const uint8_t* cdb, size_t cdb_length, int direction,
                          uint32_t data_length, uint32_t timeout_ms, const emu::command_result& r,
                          uint32_t system_error) {
    std::string line = line_start(t, "command") + ",\"drive\":" + json_string(drive) + ",\"cdb\":\"" +
                       hex_bytes(cdb, cdb_length) + "\",\"dir\":" + std::to_string(direction) +
                       ",\"len\":" + std::to_string(data_length) + ",\"timeout_ms\":" + std::to_string(timeout_ms) +
                       ",\"result\":\"" + outcome_name(r) + "\",\"status\":" + std::to_string(r.status) +
                       ",\"ms\":" + std::to_string(r.duration_ms);
    if (r.sense_length) line += ",\"sense\":\"" + hex_bytes(r.sense, r.sense_length) + "\"";
    if (system_error) line += ",\"system_error\":" + std::to_string(system_error);
    return line + "}";
}

std::string trace_delay(uint32_t t, const char* event, uint32_t ms) {
    return line_start(t, event) + ",\"ms\":" + std::to_string(ms) + "}";
}

std::string trace_notification(uint32_t t, const std::string& path, int flag) {
    return line_start(t, "notification") + ",\"path\":" + json_string(path) + ",\"flag\":" + std::to_string(flag) +
           "}";
}

std::string trace_target(uint32_t t, int number, const std::string& device) {
    return line_start(t, "target") + ",\"number\":" + std::to_string(number) + ",\"device\":" + json_string(device) +
           "}";
}

std::string trace_update_begin(uint32_t t, const std::string& device) {
    return line_start(t, "update-begin") + ",\"device\":" + json_string(device) + "}";
}

std::string trace_update_end(uint32_t t, int left_in_update_firmware, bool interrupted) {
    return line_start(t, "update-end") + ",\"left_in_update_firmware\":" + std::to_string(left_in_update_firmware) +
           ",\"interrupted\":" + (interrupted ? "true" : "false") + "}";
}

std::string trace_hang(uint32_t t) { return line_start(t, "hang") + "}"; }

}  // namespace sim
