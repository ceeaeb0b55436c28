// The Linux host's user side: the locale and the standard streams, message
// boxes asked on the terminal, the console's bytes as the terminal shows
// them, and the host's notices on lines of their own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/device_map.h"
#include "platform/linux/host_state.h"
#include "platform/linux/linux_host.h"
#include "platform/linux/notice_output.h"
#include "platform/linux/update_window.h"
#include "platform/notice_line.h"

namespace linux_host {

terminal_locale locale;
bool stdout_is_terminal = false;
bool stderr_is_terminal = false;
bool stdin_is_terminal = false;
bool stderr_goes_nowhere = false;

namespace {

bool stderr_was_closed = false;
std::string previous_console_text;
// Where the console's text goes: standard output, or standard error when the
// record has standard output to itself; and whether that is a terminal.
bool console_on_stderr = false;
bool console_is_terminal = false;

bool is_null_device(int fd) {
    struct stat status;
    struct stat null_device;
    return ::fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && ::stat("/dev/null", &null_device) == 0 &&
           status.st_rdev == null_device.st_rdev;
}

}  // namespace

bool console_to_utf8() { return locale.japanese && locale.utf8; }

// A notice's code page 932 bytes as this terminal shows them.
std::string notice_shown(const std::string& text) {
    return terminal_text(text.data(), text.size(), console_to_utf8());
}

// A notice on a line of its own, after the console text before it.
void tell(const std::string& line) {
    std::fflush(stdout);
    write_notice_line(line.data(), line.size());
}

void learn_console() {
    locale = locale_from(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
    stdout_is_terminal = ::isatty(STDOUT_FILENO) == 1;
    stderr_is_terminal = ::isatty(STDERR_FILENO) == 1;
    stdin_is_terminal = ::isatty(STDIN_FILENO) == 1;
    console_is_terminal = console_on_stderr ? stderr_is_terminal : stdout_is_terminal;
    stderr_goes_nowhere = stderr_was_closed || is_null_device(STDERR_FILENO);
    locate_notice_output();
}

int l_MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT style) {
    std::fflush(stdout);
    box_manner manner;
    manner.to_utf8 = console_to_utf8();
    manner.japanese = locale.japanese;
    manner.out_is_terminal = stderr_is_terminal;
    // The updater has just written an acknowledgement's text to the console.
    manner.text_shown = console_is_terminal && stderr_is_terminal;
    manner.in_is_terminal = stdin_is_terminal;
    // A box on a standard error that goes nowhere is seen by nobody, and
    // whatever stands on standard input answers nothing it asked.
    if (stderr_goes_nowhere) return 0;
    bool line_ended = false;
    const int answer = ask_on_terminal(stdin, stderr, caption, text, style, manner, &line_ended);
    // What a person types on the terminal ends its line with their Enter.
    box_written(!line_ended && !stdin_is_terminal);
    return answer;
}

void l_write_console(const char* bytes, size_t length) {
    std::FILE* const out = console_on_stderr ? stderr : stdout;
    if (console_to_utf8() || console_is_terminal) {
        std::string shown = terminal_text(bytes, length, console_to_utf8());
        if (console_is_terminal) shown = without_control_bytes(shown, !locale.japanese);
        std::fwrite(shown.data(), 1, shown.size(), out);
    } else {
        std::fwrite(bytes, 1, length, out);
    }
    console_written(bytes, length);
    // Progress lines must show while the drive works; a line that repeats the
    // one before shows nothing new and goes out with the next one.
    if (previous_console_text.compare(0, std::string::npos, bytes, length) != 0) {
        previous_console_text.assign(bytes, length);
        std::fflush(out);
    }
}

bool l_console_is_a_screen() { return console_is_terminal; }

// Standard output is the record's alone: the console's text goes where the
// notices and the boxes go, shown as there.
void l_record_on_standard_output() {
    std::fflush(stdout);
    console_on_stderr = true;
    console_is_terminal = stderr_is_terminal;
    console_on_standard_error();
}

void l_drive_firmware_state(int, const char* path, int in_update_firmware, const char* notice) {
    const std::string device = device_for_path(path);
    if (device.empty()) return;
    const std::string line = format_notice(notice_shown(notice ? notice : ""), device);
    note_drive_state(device.c_str(), in_update_firmware, line.c_str());
}

void l_write_notice(const char* text) { tell(notice_shown(text ? text : "")); }

void l_device_name(const char* path, char* name, size_t size) {
    if (size > 0) std::snprintf(name, size, "%s", device_for_path(path).c_str());
}

// Which drive is which, for a technician with more than one.
void l_target_found(int number, const char* path) {
    const std::string device = device_for_path(path);
    if (device.empty()) return;
    tell(host_line(host_notice::target, number, std::toupper(static_cast<unsigned char>(path[4])), device.c_str()));
}

}  // namespace linux_host

void open_missing_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            ::open("/dev/null", O_RDWR);
            if (fd == STDERR_FILENO) linux_host::stderr_was_closed = true;
        }
    }
}
