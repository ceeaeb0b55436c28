// Owns what the record keeps between a drive's finding and its line. Text
// is escaped as JSON requires: UTF-8 stays UTF-8, and other bytes that are
// not ASCII are written as the code points of the same numbers.
#include "entry/run_log.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "discovery/enumeration.h"
#include "entry/drive_outcomes.h"
#include "entry/entry.h"
#include "entry/options.h"
#include "image/firmware_image.h"
#include "image/image_integrity.h"
#include "messages/messages.h"
#include "platform/host.h"
#include "platform/last_record.h"
#include "transport/transport.h"
#include "update/update.h"

// The length of the well-formed UTF-8 character at `text` (2 to 4 bytes:
// no overlong form, no surrogate, nothing past U+10FFFF), or 0.
static size_t utf8_length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    const unsigned lead = byte(at);
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
    if (length == 0 || lead > 0xF4) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    const unsigned second = byte(at + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

// Text as a JSON string: UTF-8 (a host's name) as it is; any other byte
// (from a drive or an image) as the code point of the same number.
std::string json_text(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (const size_t length = byte >= 0x80 ? utf8_length(text, i) : 0) {
            out.append(text, i, length);
            i += length - 1;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            out += format_text("\\u%04x", byte);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

namespace {

uint8_t found_inquiry[INQUIRY_LENGTH];
// The image as the run last handed it to the record: what a line written
// before the next one (a run ended from outside) tells.
loaded_image last_image;
bool failure_told = false;
char run_id[32] = {};  // the same in every record of one run

// What a run ended from outside still owes the record: a final line for
// every drive from first_pending on.
constexpr size_t DRIVE_LINES_ROOM = last_record::CAPACITY - 4096;  // the run's line has the rest
bool drives_found = false;
int first_pending = 0;
bool visit_begun = false;     // the drive at first_pending has been identified
bool window_entered = false;  // and has entered its update window since

// A field of `width` bytes, without the blanks that pad it.
std::string field(const uint8_t* bytes, size_t width) {
    std::string text(reinterpret_cast<const char*>(bytes), width);
    text.erase(text.find_last_not_of(std::string(" \0", 2)) + 1);
    return text;
}

// The drive as an INQUIRY answer shows it: vendor, product, revision, date.
std::string drive_fields(const char* prefix, const uint8_t* inquiry) {
    const bool four_digit_year = inquiry[INQUIRY_DATE + 4] == '/';
    return format_text(",\"%s_revision\":%s,\"%s_date\":%s", prefix, json_text(field(inquiry + INQUIRY_REVISION, 4)).c_str(),
                       prefix, json_text(field(inquiry + INQUIRY_DATE, four_digit_year ? 10 : 8)).c_str());
}

// What every line starts with: the time, the machine and the route.
std::string line_start(const char* kind) {
    char stamp[32] = {};
    const std::time_t now = std::time(nullptr);
    if (const std::tm* utc = std::gmtime(&now)) std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", utc);
    char name[128] = {};
    char system[64] = {};
    host::machine_identity(name, sizeof name, system, sizeof system);
    // The run's id: its start in seconds and the millisecond clock, enough
    // to tell apart the runs of one machine and of a fleet's shared file.
    if (run_id[0] == '\0')
        std::snprintf(run_id, sizeof run_id, "%08lx-%08lx", static_cast<unsigned long>(now),
                      static_cast<unsigned long>(host::timeGetTime()));
    return format_text("{\"record\":\"%s\",\"run_id\":\"%s\",\"time\":\"%s\",\"host\":%s,\"system\":%s,\"route\":\"%s\"",
                       kind, run_id, stamp, json_text(name).c_str(), json_text(system).c_str(),
                       win9x_family ? "aspi" : "pass-through");
}

std::string device_fields(int listed, const uint8_t* inquiry) {
    const std::string device = listed_drive_name(listed);
    char name[64] = {};
    const std::string path = drive_device_path(listed_drives[listed].drive_letter);
    host::device_name(path.c_str(), name, sizeof name);
    // The serial number tells the drive when its letter or name has changed.
    char serial[128] = {};
    host::drive_serial(path.c_str(), serial, sizeof serial);
    return format_text(",\"device\":%s,\"device_name\":%s,\"serial\":%s,\"vendor\":%s,\"product\":%s",
                       json_text(device).c_str(), json_text(name).c_str(), json_text(serial).c_str(),
                       json_text(field(inquiry + INQUIRY_VENDOR, VENDOR_WIDTH)).c_str(),
                       json_text(field(inquiry + INQUIRY_PRODUCT, PRODUCT_WIDTH)).c_str());
}

// The listed place of the drive at current_target.
int current_listed() { return target_table[current_target].listed; }

// The image of the drive at current_target before it is visited: its
// model's, or the build's one image for a drive that matched no model; a
// build of several models names none for such a drive.
const char* image_of_drive() {
    int row = current_target >= 0 && current_target < target_count ? target_table[current_target].model_row : -1;
    if (row < 0 && release_count == 1) row = 0;
    return row >= 0 && row < release_count ? firmware_descriptor[row].image_file_name : "";
}

// The image by name, by its size and SHA-256 as the run first read it, and,
// once it has been read, by its header's version and date.
std::string image_fields() {
    const loaded_image& image = last_image;
    const char* name = current_release.image_file_name[0] ? current_release.image_file_name : image_of_drive();
    const image_identity& identity = image.has_bytes() ? image.first_read : first_image_read(name);
    std::string read = identity.known ? format_text(",\"image_size\":%u,\"image_sha256\":\"%s\"", identity.size,
                                                    sha256_text(identity.sha256).c_str())
                                      : std::string();
    // A checksum file that disagrees: the digest it gave, beside the one found.
    if (identity.known && identity.other_expected)
        read += format_text(",\"image_sha256_expected\":\"%s\"", sha256_text(identity.expected_sha256).c_str());
    if (!image.has_bytes()) return format_text(",\"image\":%s", json_text(name).c_str()) + read;
    return format_text(",\"image\":%s,\"image_version\":%s,\"image_date\":%s", json_text(name).c_str(),
                       json_text(field(image.header.version_text, 4)).c_str(),
                       json_text(image_date_text(image.header).c_str()).c_str()) +
           read;
}

// A drive left in its update firmware is told so when the run ends, by the
// line that names it: its record says the same, not the last message shown.
std::string left_message_field(int listed) {
    std::string text = english_notices[NOTICE_LEFT_IN_UPDATE_FIRMWARE];
    text.replace(text.find("%s"), 2, listed_drive_name(listed));
    text.erase(0, text.find(": ") + 2);
    text.erase(text.find_last_not_of('\n') + 1);
    return format_text(",\"message\":%s", json_text(text).c_str());
}

// The drive's word under `key` ("result" or "verdict"), why, what it was
// told, and how the system put the failure behind it: what a fleet's tools
// sort and act on.
std::string outcome_fields(int listed, const drive_outcome& outcome, const char* key) {
    const bool check = std::string(key) == "verdict";
    std::string fields = format_text(",\"%s\":%s", key, json_text(outcome_word(outcome, check)).c_str());
    const bool settled = outcome.fate == drive_fate::updated || outcome.fate == drive_fate::up_to_date ||
                         outcome.fate == drive_fate::update_applies;
    if (settled && !outcome.in_update_firmware) return fields;
    if (outcome.reason != outcome_reason::none) fields += format_text(",\"reason\":\"%s\"", reason_word(outcome.reason));
    if (outcome.reason == outcome_reason::block_refused && outcome.block >= 0)
        fields += format_text(",\"block\":%d,\"pass\":%d", outcome.block, outcome.pass);
    if (outcome.sense_known)
        fields += format_text(",\"sense\":\"%02X/%02X/%02X\"", static_cast<unsigned>(outcome.sense_code >> 16),
                              static_cast<unsigned>(outcome.sense_code >> 8 & 0xFF),
                              static_cast<unsigned>(outcome.sense_code & 0xFF));
    if (outcome.in_update_firmware || outcome.fate == drive_fate::update_firmware)
        fields += left_message_field(listed);
    else if (!outcome.message.empty() && outcome.fate != drive_fate::declined)
        fields += format_text(",\"message\":%s", json_text(outcome.message).c_str());
    if (!outcome.system_error.empty())
        fields += format_text(",\"system_error\":%s", json_text(outcome.system_error).c_str());
    return fields;
}

// Every way out of the run waits while one is held: it sees the record
// before the steps or after them.
struct ways_out_held {
    ways_out_held() { host::hold_ways_out(1); }
    ~ways_out_held() { host::hold_ways_out(0); }
    ways_out_held(const ways_out_held&) = delete;
    ways_out_held& operator=(const ways_out_held&) = delete;
};

// The record's bytes go as they are, to standard output too ("-"): never as
// console text, which the host shows in the console's code page.
void append(std::string line) {
    if (options.log.empty()) return;
    line += "}\n";
    if (host::append_to_file(options.log.c_str(), line.data(), line.size()) == 0 || failure_told) return;
    failure_told = true;
    host::write_notice(format_text(notice_text(NOTICE_LOG_NOT_WRITTEN), options.log.c_str()).c_str());
}

}  // namespace

void start_run_record() {
    if (options.log == "-") host::record_on_standard_output();
}

void log_drive_found(const loaded_image& image) {
    last_image = image;
    std::memcpy(found_inquiry, inquiry_data, sizeof found_inquiry);
    visit_begun = true;
    prepare_run_record();
}

namespace {

// The drive at current_target has its final line: a run ended from outside
// owes the record the drives after it.
void final_record_written() {
    last_failure_words[0] = '\0';
    first_pending = current_target + 1;
    visit_begun = false;
    window_entered = false;
    prepare_run_record();
}

}  // namespace

void log_drive(const drive_outcome& outcome, const loaded_image& image) {
    last_image = image;
    if (options.log.empty()) return;
    const ways_out_held held;
    append(line_start("drive") + device_fields(current_listed(), outcome.before) + drive_fields("before", outcome.before) +
           drive_fields("after", outcome.after) + image_fields() + outcome_fields(current_listed(), outcome, "result"));
    final_record_written();
}

void log_check(const drive_outcome& outcome, const loaded_image& image) {
    if (options.log.empty()) return;
    const ways_out_held held;
    log_drive_found(image);
    append(line_start("drive") + device_fields(current_listed(), found_inquiry) + drive_fields("before", found_inquiry) +
           image_fields() + outcome_fields(current_listed(), outcome, "verdict"));
    final_record_written();
}

void log_drive_updating(const loaded_image& image) {
    last_image = image;
    if (options.log.empty()) return;
    const ways_out_held held;
    append(line_start("drive") + device_fields(current_listed(), found_inquiry) + drive_fields("before", found_inquiry) +
           image_fields() + ",\"result\":\"updating\"");
    window_entered = true;
    prepare_run_record();
}

void log_drive_not_visited(const loaded_image& image) {
    last_image = image;
    if (options.log.empty()) return;
    const ways_out_held held;
    std::memset(found_inquiry, 0, sizeof found_inquiry);
    append(line_start("drive") + device_fields(current_listed(), found_inquiry) + image_fields() +
           outcome_fields(current_listed(), outcome_of_target(current_target), "result"));
    final_record_written();
}

namespace {

// The run's line up to its exit code: a run that another run kept from the
// drives lists none, and says why, as does one whose host could not list them all.
std::string run_fields() {
    return line_start("run") + format_text(",\"program\":%s,\"check\":%s,\"yes\":%s,\"drives\":%d",
                                           json_text(updater_title()).c_str(), options.check ? "true" : "false",
                                           options.yes ? "true" : "false", listed_count) +
           (another_run_held_the_drives ? ",\"reason\":\"another-run\""
            : drives_unlisted           ? ",\"reason\":\"drives-not-listed\""
                                        : "");
}

}  // namespace

void log_run(int exit_code) {
    if (options.log.empty()) return;
    const ways_out_held held;
    host::prepare_last_record("", "");  // the run writes its own
    append(run_fields() + format_text(",\"exit_code\":%d", exit_code));
}

namespace {

// The final line a drive without one gets when the run is ended from outside:
// the drive being visited is interrupted, or left in its update firmware once
// it has entered its update window; the drives after it were never visited.
std::string pending_line(int target) {
    const char* key = options.check ? "verdict" : "result";
    const bool visiting = target == first_pending && visit_begun;
    static const uint8_t nothing_read[INQUIRY_LENGTH] = {};
    const int listed = target_table[target].listed;
    std::string line = line_start("drive") + device_fields(listed, visiting ? found_inquiry : nothing_read);
    drive_outcome outcome;
    outcome.fate = drive_fate::not_visited;
    outcome.reason = outcome_reason::not_visited;
    if (!visiting) return line + image_fields() + outcome_fields(listed, outcome, key) + "}\n";
    line += drive_fields("before", found_inquiry) + image_fields();
    outcome.fate = drive_fate::interrupted;
    outcome.reason = outcome_reason::interrupted;
    outcome.in_update_firmware = window_entered || target_table[target].in_update_firmware;
    return line + outcome_fields(listed, outcome, key) + "}\n";
}

}  // namespace

void log_drives_found() {
    const ways_out_held held;
    last_failure_words[0] = '\0';
    drives_found = true;
    first_pending = 0;
    visit_begun = window_entered = false;
    // A drive that is not one to update has its outcome from enumeration: its
    // final line now.
    for (int i = 0; i < listed_count && !options.log.empty(); ++i) {
        const listed_drive& drive = listed_drives[i];
        if (drive.target >= 0) continue;
        append(line_start("drive") + device_fields(i, drive.outcome.before) + drive_fields("before", drive.outcome.before) +
               image_fields() + outcome_fields(i, drive.outcome, options.check ? "verdict" : "result"));
    }
    prepare_run_record();
}

void prepare_run_record() {
    if (options.log.empty()) return;
    // The drives' lines that fit, then the run's; the %d the host fills in is
    // the one conversion left.
    std::string lines;
    for (int i = first_pending; drives_found && i < target_count; ++i) {
        const std::string line = pending_line(i);
        if (lines.size() + line.size() > DRIVE_LINES_ROOM) break;
        lines += line;
    }
    lines += run_fields();
    std::string escaped;
    for (char c : lines) escaped += c == '%' ? std::string("%%") : std::string(1, c);
    escaped += ",\"exit_code\":%d}\n";
    host::prepare_last_record(options.log.c_str(), escaped.c_str());
}

void reset_run_log() {
    std::memset(found_inquiry, 0, sizeof found_inquiry);
    last_image = {};
    failure_told = false;
    run_id[0] = '\0';
    drives_found = visit_begun = window_entered = false;
    first_pending = 0;
}
