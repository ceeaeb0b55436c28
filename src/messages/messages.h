// The dialogue: the numbered message catalogue in English and Japanese (code
// page 932 bytes), its presentation on the console and in message boxes, and
// the plain console writer for the lines outside the catalogue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int MESSAGE_CODE_LIMIT = 100;

// The catalogue's codes, named by what the message says; the number is the
// message's key in both catalogues.
constexpr int MSG_DRIVE_INFO_FAILED = 0;
constexpr int MSG_HARDWARE_REVISION_MISMATCH = 1;
constexpr int MSG_NORMAL_MODEL_MISMATCH = 3;
constexpr int MSG_DISC_INSERTED = 5;
constexpr int MSG_BECOMING_READY = 6;
constexpr int MSG_UNKNOWN_ERROR = 7;
constexpr int MSG_INQUIRY_FAILED = 9;
constexpr int MSG_IMAGE_NOT_LOADED = 11;
constexpr int MSG_SUCCESS_UPDATED = 12;
constexpr int MSG_KERNEL_MODE_FAILED = 14;
constexpr int MSG_NORMAL_MODE_FAILED = 15;
constexpr int MSG_NO_TARGET = 28;
constexpr int MSG_UPDATE_ALL_QUESTION = 31;
constexpr int MSG_START_DEVICE = 34;
constexpr int MSG_ALL_UPDATED = 35;
constexpr int MSG_TERMINATED = 36;
constexpr int MSG_KERNEL_MODEL_MISMATCH = 37;
constexpr int MSG_ILLEGAL_IMAGE = 40;
constexpr int MSG_NORMAL_PART_FAILED = 42;
constexpr int MSG_REBOOTING = 44;
constexpr int MSG_RETRY_QUESTION = 47;
constexpr int MSG_INTEL_IDE_DRIVER = 48;
constexpr int MSG_IEEE1394_INTERFACE = 52;
constexpr int MSG_ALREADY_LATEST = 54;
constexpr int MSG_SOME_UPDATED = 58;
constexpr int MSG_UPDATING = 61;
constexpr int MSG_IMAGE_TOO_OLD = 69;
constexpr int MSG_UPDATE_QUESTION = 82;

constexpr int KIND_CONSOLE = 0;
constexpr int KIND_YES_NO = 2;
constexpr int KIND_ERROR = 16;
constexpr int KIND_INFO = 17;
constexpr int KIND_WARNING = 18;

constexpr unsigned JAPANESE_CODE_PAGE = 932;

// Lines apart from the dialogue, for standard error (see host::write_notice).
constexpr int NOTICE_LEFT_IN_UPDATE_FIRMWARE = 0;  // %s: the drive's name
constexpr int NOTICE_QUESTION_NOT_SHOWN = 1;
constexpr int NOTICE_ALL_DECLINED = 2;
constexpr int NOTICE_NO_DRIVE = 3;           // a check found no drive
constexpr int NOTICE_IMAGE_NOT_LOADED = 4;   // %s: the image file's name
constexpr int NOTICE_LOG_NOT_WRITTEN = 5;    // %s: the log file's name
constexpr int NOTICE_ANOTHER_RUN = 6;
constexpr int NOTICE_LOG_IS_IMAGE = 7;            // %s: the log file's name
constexpr int NOTICE_IMAGE_NOT_THIS_BUILDS = 8;   // %s: the image file's name
constexpr int NOTICE_CHECKSUM_MISMATCH = 9;       // %s, %s: the image file's name twice
constexpr int NOTICE_CHECKSUM_UNREADABLE = 10;    // %s, %s: the image file's name twice
constexpr int NOTICE_IMAGE_CHANGED = 11;          // %s: the image file's name
constexpr int NOTICE_DRIVE_NOT_READ = 12;         // %s: the drive's name, %s: why, in the record's word
constexpr int NOTICE_DRIVES_NOT_LISTED = 13;
constexpr int NOTICE_CLAIM_NOT_TAKEN = 14;
constexpr int NOTICE_DIGEST_MISMATCH = 15;        // %s: the image file's name
constexpr int NOTICE_NO_DIGEST = 16;              // %s, %s, %s: the image file's name three times
constexpr int NOTICE_RECORD_NOT_WRITTEN = 17;     // %s: the record's file name
constexpr int NOTICE_COUNT = 18;

// Slots a catalogue does not fill are null.
extern const char* const english_catalogue[MESSAGE_CODE_LIMIT + 1];
extern const char* const japanese_catalogue[MESSAGE_CODE_LIMIT + 1];
extern const char* const unknown_message_text;
extern const char* const english_notices[NOTICE_COUNT];
extern const char* const japanese_notices[NOTICE_COUNT];

// The run's language: 932 speaks Japanese (code page 932 bytes), any other English.
extern uint32_t oem_code_page;

// What a message shows besides its text, handed by whoever shows it; a
// message takes the fields it names and shows no other.
struct message_fields {
    // MSG_UPDATE_ALL_QUESTION: the drives found; MSG_START_DEVICE: the
    // drive's number; MSG_SOME_UPDATED: the drives updated.
    int number = 0;
    std::string file_name;  // MSG_IMAGE_NOT_LOADED: the image file
    // MSG_UPDATE_QUESTION: the drive's vendor and product, revision and date,
    // then the image's, each as shown (see shown_field).
    std::string drive_identity, drive_revision, drive_date, image_identity, image_version, image_date;
};

// Formats message `code` in the run's language with `fields` and presents
// it as `kind` says. Returns 0 for the console kind, otherwise the box's answer.
int show_message(int code, int kind, const message_fields& fields = {});
// The notice in the run's language.
const char* notice_text(int notice);
// A field from a drive or an image as the dialogue shows it: at most `width`
// bytes, ending at a zero byte as "%.Ns" ends, with every control byte
// (below 0x20, and 0x7F) shown as '?', so that no drive or image file can
// move a cursor, rewrite a line or send a terminal a command.
std::string shown_field(const void* field, size_t width);
// What ask returns when its box could not be shown.
constexpr int NOT_SHOWN = 0;
// Asks question `code` (kind 2): IDYES, IDNO, or NOT_SHOWN for anything
// else, since a box that could not be shown is nobody's answer.
int ask(int code, const message_fields& fields = {});
// With `unattended` (a run with --yes), a box that only informs is not shown
// and every question is answered Yes in advance by the one who started the run.
void set_unattended(bool unattended);
// True in the unattended run: its questions were answered when it started.
bool unattended();
// With `silenced`, nothing reaches the console or a box (a check of the
// drives); show_message still records its code.
void silence_console(bool silenced);
// The code of the message shown last (-1 before any).
extern int last_message_code;
// The message shown last as the English catalogue shows it, with its fields.
std::string last_message_in_english();
// The same without the line breaks it starts with; empty when no catalogue
// message was shown since forget_last_message.
std::string last_message_shown_in_english();
void forget_last_message();
// Writes `text` to the console unchanged.
void print_text(const char* text);
// True for a run with --check or --yes whose console goes to a file or a
// pipe: progress comes as whole lines, and the run ends with a line break.
extern bool console_is_a_log;
// The run's console begins: `is_a_log` as console_is_a_log.
void start_console(bool is_a_log);
// Ends the console's last line, when a log's text does not end with one.
void end_console_line();
// Shows the modal box of `kind` (2, 16, 17 or 18) captioned "TORVAL".
int message_box(const char* text, int kind);
// printf-style formatting into a string of whatever length the result needs.
std::string format_text(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The dialogue's state back to that of a new run.
void reset_dialogue_state();
