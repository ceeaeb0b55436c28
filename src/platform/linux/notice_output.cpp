// Keeps track of whether the text before the next notice ends inside a line.
// Only write(2), fstat(2) and a sig_atomic_t: a held signal's notice is
// written from its handler.
#include "platform/linux/notice_output.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/retrying_calls.h"

namespace {

volatile sig_atomic_t line_open = 0;
bool console_shares_destination = false;

}  // namespace

void locate_notice_output() {
    struct stat out;
    struct stat err;
    console_shares_destination = ::fstat(STDOUT_FILENO, &out) == 0 && ::fstat(STDERR_FILENO, &err) == 0 &&
                                 out.st_dev == err.st_dev && out.st_ino == err.st_ino && out.st_rdev == err.st_rdev;
}

void console_on_standard_error() { console_shares_destination = true; }

void console_written(const char* bytes, size_t length) {
    if (console_shares_destination && length > 0) line_open = bytes[length - 1] != '\n';
}

void box_written(bool open) { line_open = open; }

void write_notice_line(const char* text, size_t length) {
    if (length == 0) return;
    if (line_open) write_all_retrying(STDERR_FILENO, "\n", 1);
    write_all_retrying(STDERR_FILENO, text, length);
    line_open = text[length - 1] != '\n';
}
