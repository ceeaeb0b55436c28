// The dialogue: the numbered message catalogue in English and Japanese (code
// page 932 bytes), its presentation on the console and in message boxes, and
// the plain console writer for the lines outside the catalogue.
#pragma once

#include <string>

constexpr int MESSAGE_CODE_LIMIT = 100;

constexpr int KIND_CONSOLE = 0;
constexpr int KIND_YES_NO = 2;
constexpr int KIND_ERROR = 16;
constexpr int KIND_INFO = 17;
constexpr int KIND_WARNING = 18;

constexpr unsigned JAPANESE_CODE_PAGE = 932;

// Slots a catalogue does not fill are null.
extern const char* const english_catalogue[MESSAGE_CODE_LIMIT + 1];
extern const char* const japanese_catalogue[MESSAGE_CODE_LIMIT + 1];
extern const char* const unknown_message_text;

// Formats message `code` in the run's language with the arguments it takes from
// the run state and presents it as `kind` says. Returns 0 for the console kind,
// otherwise the box's answer.
int show_message(int code, int kind);
// Writes `text` to the console unchanged.
void print_text(const char* text);
// Shows the modal box of `kind` (2, 16, 17 or 18) captioned "TORVAL".
int message_box(const char* text, int kind);
// printf-style formatting into a string of whatever length the result needs.
std::string format_text(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
