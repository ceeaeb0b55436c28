// Notices on standard error, each starting a line of its own: where standard
// error shares the console's destination (a terminal, or 2>&1), a notice that
// follows console text ending inside a line (a progress line, a prompt)
// starts with a line break. Safe to call from a signal handler.
#pragma once

#include <cstddef>

// Learns whether standard output and standard error go to the same place.
void locate_notice_output();
// The console's text goes to standard error from now on, with the notices
// (standard output carries the record).
void console_on_standard_error();
// The console's bytes as they went out.
void console_written(const char* bytes, size_t length);
// A box was asked on standard error; `line_open`: what it wrote last, with
// what the person typed, ends inside a line.
void box_written(bool line_open);
// Writes `text` (a whole line) to standard error, on a line of its own.
void write_notice_line(const char* text, size_t length);
