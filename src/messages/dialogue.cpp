// Presents catalogue messages on the console and in message boxes, and writes
// the lines outside the catalogue. Whoever shows a message hands it the
// fields it shows.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "messages/messages.h"
#include "platform/host.h"

uint32_t oem_code_page = 0;

namespace {

const char* const BOX_CAPTION = "TORVAL";

// A check of the drives writes its own lines and nothing of the dialogue.
bool console_silenced = false;
bool unattended_run = false;
// The fields of the message shown last, for its English text in the record.
message_fields last_fields;

const char* catalogue_text(int code, bool english = false) {
    const char* const* catalogue =
        oem_code_page == JAPANESE_CODE_PAGE && !english ? japanese_catalogue : english_catalogue;
    if (code < 0 || code > MESSAGE_CODE_LIMIT || catalogue[code] == nullptr) return unknown_message_text;
    return catalogue[code];
}

std::string format_message(int code, const message_fields& fields, bool english = false) {
    const char* text = catalogue_text(code, english);
    if (text == unknown_message_text) return text;
    switch (code) {
    case MSG_IMAGE_NOT_LOADED: return format_text(text, fields.file_name.c_str());
    case MSG_UPDATE_ALL_QUESTION:
    case MSG_START_DEVICE:
    case MSG_SOME_UPDATED: return format_text(text, fields.number);
    case MSG_UPDATE_QUESTION:
        return format_text(text, fields.drive_identity.c_str(), fields.drive_revision.c_str(),
                           fields.drive_date.c_str(), fields.image_identity.c_str(), fields.image_version.c_str(),
                           fields.image_date.c_str());
    default: return text;
    }
}

}  // namespace

std::string last_message_in_english() { return format_message(last_message_code, last_fields, true); }

std::string last_message_shown_in_english() {
    if (last_message_code < 0 || last_message_code > MESSAGE_CODE_LIMIT || english_catalogue[last_message_code] == nullptr)
        return "";
    std::string text = last_message_in_english();
    text.erase(0, text.find_first_not_of("\r\n"));
    return text;
}

void forget_last_message() { last_message_code = -1; }

std::string format_text(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(again);
    return text;
}

const char* notice_text(int notice) {
    const char* const* notices = oem_code_page == JAPANESE_CODE_PAGE ? japanese_notices : english_notices;
    return notice >= 0 && notice < NOTICE_COUNT ? notices[notice] : "";
}

std::string shown_field(const void* field, size_t width) {
    const auto* bytes = static_cast<const unsigned char*>(field);
    std::string shown;
    for (size_t i = 0; i < width && bytes[i] != 0; ++i)
        shown += bytes[i] < 0x20 || bytes[i] == 0x7F ? '?' : static_cast<char>(bytes[i]);
    return shown;
}

bool console_is_a_log = false;

namespace {
char last_console_byte = '\n';
}  // namespace

void print_text(const char* text) {
    if (console_silenced) return;
    const size_t length = std::strlen(text);
    host::write_console(text, length);
    if (length != 0) last_console_byte = text[length - 1];
}

void start_console(bool is_a_log) {
    console_is_a_log = is_a_log;
    last_console_byte = '\n';
}

void end_console_line() {
    if (console_is_a_log && last_console_byte != '\n') print_text("\n");
}

void silence_console(bool silenced) { console_silenced = silenced; }

int last_message_code = -1;

int message_box(const char* text, int kind) {
    UINT style = MB_OK;
    switch (kind) {
    case KIND_YES_NO: style = MB_YESNO | MB_ICONQUESTION; break;
    case KIND_ERROR: style = MB_OK | MB_ICONHAND; break;
    case KIND_INFO: style = MB_OK | MB_ICONASTERISK; break;
    case KIND_WARNING: style = MB_OK | MB_ICONEXCLAMATION; break;
    default: break;
    }
    return host::MessageBoxA(nullptr, text, BOX_CAPTION, style);
}

int show_message(int code, int kind, const message_fields& fields) {
    last_message_code = code;
    last_fields = fields;
    if (console_silenced) return 0;
    std::string text = format_message(code, fields);
    if (kind == KIND_YES_NO) return message_box(text.c_str(), kind);
    print_text(text.c_str());
    // In the unattended run a box that only informs would wait for nobody.
    if (kind == KIND_CONSOLE || unattended_run) return 0;
    return message_box(text.c_str(), kind);
}

int ask(int code, const message_fields& fields) {
    // The unattended run: Yes given in advance by the one who started it.
    if (unattended_run) return IDYES;
    const int answer = show_message(code, KIND_YES_NO, fields);
    return answer == IDYES || answer == IDNO ? answer : NOT_SHOWN;
}

void set_unattended(bool unattended) { unattended_run = unattended; }
bool unattended() { return unattended_run; }

void reset_dialogue_state() {
    oem_code_page = 0;
    console_silenced = false;
    unattended_run = false;
    last_fields = {};
    last_message_code = -1;
    console_is_a_log = false;
    last_console_byte = '\n';
}
