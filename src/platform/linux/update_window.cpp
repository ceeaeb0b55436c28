// Held signals, the update window and the ways out of the run. Everything a
// signal handler touches is a fixed buffer written before the handler can need
// it, and goes out with write(2).
#include "platform/linux/update_window.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/linux/device_map.h"
#include "platform/linux/media_polling.h"
#include "platform/linux/notice_output.h"
#include "platform/linux/record_writes.h"
#include "platform/linux/retrying_calls.h"
#include "platform/last_record.h"

namespace {

// Every catchable signal whose default action ends the process, but those a
// fault of the program itself raises (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, SIGTRAP, SIGSYS): they end the run, naming the drives left in
// their update firmware, and inside an update window they are held until the
// drive's update has ended. The real-time signals are added at run time.
const int ENDING_SIGNALS[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1,   SIGUSR2,
                              SIGALRM, SIGPROF, SIGVTALRM, SIGIO,   SIGPWR,    SIGSTKFLT, SIGXCPU};
// The signals whose default action stops the process: held inside an update
// window only (a terminal's Ctrl-Z), the stop then following the drive's update.
// SIGTTIN and SIGTTOU are ignored there instead, since a caught one is sent
// again on every read or write a background process makes on its terminal.
const int STOPPING_SIGNALS[] = {SIGTSTP, SIGTTIN, SIGTTOU};
constexpr size_t LINE_CAPACITY = 320;

struct notice {
    char text[LINE_CAPACITY] = {};
    size_t length = 0;
};

// One line per drive that is, or may be, in its update firmware.
struct left_drive {
    char device[32] = {};
    volatile sig_atomic_t left = 0;
    notice told;
    volatile sig_atomic_t detached = 0;  // it went away and came back: its name may have changed
    notice detached_told;
};
left_drive left_drives[DEVICE_COUNT];

volatile sig_atomic_t window_open = 0;
volatile sig_atomic_t held_ending = 0;
volatile sig_atomic_t held_stop = 0;
volatile sig_atomic_t run_finished = 0;
int pending_ending = 0;  // a signal held in a window that has closed, for the run to act on
notice held_notice;
sigset_t handled_signals;
last_record run_record;  // the record's last lines, for a run a signal ends

// Appends the run's last lines with `exit_code` to the record (standard
// output for "-"), once; async-signal-safe.
void write_last_record(int exit_code) {
    if (run_record.path[0] == '\0') return;
    char path[sizeof run_record.path];
    std::memcpy(path, run_record.path, sizeof path);
    const int fd = open_record(path);
    const size_t length = fd < 0 ? 0 : run_record.render(exit_code, record_ends_inside_a_line(fd, path));
    run_record.path[0] = '\0';
    if (length != 0) write_record(fd, run_record.text, length);
    if (fd >= 0) close_record(fd);
}

void set_notice(notice& n, const char* format, const char* device) {
    const int length = std::snprintf(n.text, sizeof n.text, format, device);
    n.length = length < 0 ? 0 : std::min(static_cast<size_t>(length), sizeof n.text - 1);
}

void write_notice(const notice& n) { write_notice_line(n.text, n.length); }

// The drives' media polling given back and those left in their update
// firmware named, once, whichever way out the run takes first; no signal
// cuts it short.
void finish_run() {
    sigset_t before;
    ::sigprocmask(SIG_BLOCK, &handled_signals, &before);
    if (!run_finished) {
        run_finished = 1;
        restore_all_media_polling();
        for (const left_drive& drive : left_drives) {
            if (drive.left) write_notice(drive.told);
            if (drive.left && drive.detached) write_notice(drive.detached_told);
        }
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

void finish_run_at_exit() { finish_run(); }

[[noreturn]] void end_by_signal(int signal_number) {
    ::signal(signal_number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal_number);
    ::_exit(128 + signal_number);
}

void tell_held_once() {
    if (held_ending == 0 && held_stop == 0) write_notice(held_notice);
}

void on_ending_signal(int signal_number) {
    if (window_open) {
        tell_held_once();
        if (held_ending == 0) held_ending = signal_number;
        return;
    }
    finish_run();
    write_last_record(128 + signal_number);
    end_by_signal(signal_number);
}

void on_stopping_signal(int signal_number) {
    tell_held_once();
    if (held_stop == 0) held_stop = signal_number;
}

void set_handler(int signal_number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    action.sa_mask = handled_signals;
    ::sigaction(signal_number, &action, nullptr);
}

bool started_ignored(int signal_number) {
    struct sigaction before {};
    return ::sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN;
}

// The stop signals' dispositions outside the window, as the program found them.
struct sigaction stop_dispositions[std::size(STOPPING_SIGNALS)];

left_drive* drive_named(const char* device) {
    left_drive* free_entry = nullptr;
    for (left_drive& drive : left_drives) {
        if (std::strcmp(drive.device, device) == 0) return &drive;
        if (free_entry == nullptr && drive.device[0] == '\0') free_entry = &drive;
    }
    if (free_entry) std::snprintf(free_entry->device, sizeof free_entry->device, "%s", device);
    return free_entry;
}

}  // namespace

void guard_updates() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    // Console write errors are ignored: a reader that went away, or a console
    // file that reached its size limit, must not end an update.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    sigemptyset(&handled_signals);
    for (int signal_number : ENDING_SIGNALS) sigaddset(&handled_signals, signal_number);
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number)
        sigaddset(&handled_signals, signal_number);
    for (int signal_number : STOPPING_SIGNALS) sigaddset(&handled_signals, signal_number);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        const bool stopping = std::find(std::begin(STOPPING_SIGNALS), std::end(STOPPING_SIGNALS), signal_number) !=
                              std::end(STOPPING_SIGNALS);
        if (stopping || !sigismember(&handled_signals, signal_number) || started_ignored(signal_number)) continue;
        set_handler(signal_number, on_ending_signal);
    }
    std::atexit(finish_run_at_exit);
}

void note_drive_state(const char* device, int in_update_firmware, const char* line) {
    left_drive* drive = drive_named(device ? device : "");
    if (drive == nullptr) return;
    sigset_t before;
    ::sigprocmask(SIG_BLOCK, &handled_signals, &before);
    drive->left = 0;
    set_notice(drive->told, "%s", line ? line : "");
    drive->left = in_update_firmware != 0;
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

void note_drive_detached(const char* device, const char* line) {
    left_drive* drive = drive_named(device ? device : "");
    if (drive == nullptr) return;
    sigset_t before;
    ::sigprocmask(SIG_BLOCK, &handled_signals, &before);
    set_notice(drive->detached_told, "%s", line ? line : "");
    drive->detached = 1;
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

void begin_update_window(const char* held_line) {
    set_notice(held_notice, "%s", held_line ? held_line : "");
    held_ending = 0;
    held_stop = 0;
    for (size_t i = 0; i < std::size(STOPPING_SIGNALS); ++i) {
        const int signal_number = STOPPING_SIGNALS[i];
        ::sigaction(signal_number, nullptr, &stop_dispositions[i]);
        if (stop_dispositions[i].sa_handler == SIG_IGN) continue;
        if (signal_number == SIGTSTP) set_handler(signal_number, on_stopping_signal);
        else ::signal(signal_number, SIG_IGN);
    }
    window_open = 1;
}

int end_update_window() {
    window_open = 0;
    for (size_t i = 0; i < std::size(STOPPING_SIGNALS); ++i)
        ::sigaction(STOPPING_SIGNALS[i], &stop_dispositions[i], nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    // The drive's update has ended; the run counts and records it before it
    // acts on the signal (end_by_held_signal).
    if (held_ending != 0) {
        pending_ending = held_ending;
        held_ending = 0;
        held_stop = 0;
        return 1;
    }
    // A Ctrl-Z held meanwhile stops the program now, between two drives.
    if (held_stop != 0) {
        held_stop = 0;
        ::raise(SIGTSTP);
    }
    return 0;
}

void hold_ways_out(int hold) {
    static int holds = 0;
    static sigset_t before;
    if (hold && holds++ == 0) ::sigprocmask(SIG_BLOCK, &handled_signals, &before);
    if (!hold && holds > 0 && --holds == 0) ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

void prepare_last_record(const char* path, const char* line) {
    sigset_t before;
    ::sigprocmask(SIG_BLOCK, &handled_signals, &before);
    run_record.prepare(path, line);
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

int exit_code_of_run(int exit_code, int stopped_by_interrupt) {
    return stopped_by_interrupt && pending_ending != 0 ? 128 + pending_ending : exit_code;
}

void end_by_held_signal() {
    if (pending_ending == 0) return;
    finish_run();
    end_by_signal(pending_ending);
}
