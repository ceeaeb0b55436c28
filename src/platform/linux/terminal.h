// The Linux host's user side: the language and encoding the locale asks for,
// console bytes on the terminal, and message boxes as questions on the
// terminal.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/win_types.h"

struct terminal_locale {
    bool japanese = false;  // the run speaks code page 932
    bool utf8 = false;      // the terminal shows UTF-8
};

// The locale in force by POSIX precedence (LC_ALL, then LC_CTYPE, then LANG;
// null or empty values are skipped): UTF-8 when its codeset is UTF-8
// (however spelled); Japanese when its language is "ja" and its codeset is
// UTF-8 or Shift_JIS (code page 932), the two a terminal can show the
// Japanese catalogue in. Read from the names, so a locale that is not
// installed still counts.
terminal_locale locale_from(const char* lc_all, const char* lc_ctype, const char* lang);

// The bytes to show for console bytes: code page 932 converted to UTF-8 when
// `to_utf8`, otherwise unchanged. A byte that is not code page 932 text is
// shown as '?'.
std::string terminal_text(const char* bytes, size_t length, bool to_utf8);

// The bytes to show on a terminal: control bytes other than CR, LF and TAB
// become '?', so that no text from a drive or an image can move the cursor or
// rewrite a line. C1 bytes (0x80-0x9F) count only in `single_byte` text; in
// code page 932 and UTF-8 they are parts of characters.
std::string without_control_bytes(const std::string& shown, bool single_byte);

// How a box is asked on the terminal.
struct box_manner {
    bool to_utf8 = false;          // code page 932 text shown as UTF-8
    bool japanese = false;         // prompts in Japanese, and its yes and no taken as answers
    bool out_is_terminal = false;  // the box's output is a terminal
    bool text_shown = false;       // an acknowledgement's text is already on the same terminal
    bool in_is_terminal = false;   // the answers come from a terminal: what was typed ahead is dropped
};

// A message box on the terminal: writes the caption and the text to `out`,
// then "[y/n] " for MB_YESNO or "[press Enter] " for any other style (in
// Japanese when asked), and reads lines from `in`, after dropping what was
// typed ahead when `in` is a terminal. An acknowledgement whose text is
// already shown gets its prompt alone. Returns IDYES or IDNO for "y"/"yes"
// and "n"/"no" (any case) or the Japanese yes and no; anything else, a line
// holding a control byte among them, asks again, twice at most, and then
// answers IDNO. IDOK for an acknowledgement. At the end of input, or on input
// no person types (a line of thousands of bytes), a question answers IDNO,
// never IDYES, and an acknowledgement IDOK. 0 when the prompt could not be
// written: the box could not be shown.
// `line_ended`, when given, is told whether what was written last ends its
// line.
int ask_on_terminal(std::FILE* in, std::FILE* out, const char* caption, const char* text, UINT style,
                    const box_manner& manner, bool* line_ended = nullptr);
