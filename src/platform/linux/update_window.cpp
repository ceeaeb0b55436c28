// Held signals, the update window and the ways out of the run. Everything a
// signal handler touches is a fixed buffer written before the handler can need
// it, and goes out with write(2).
#include "platform/linux/update_window.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/media_polling.h"

namespace {

const int HELD_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int MAX_DRIVES = 23;  // /dev/sr0 to /dev/sr22
constexpr size_t LINE_CAPACITY = 192;

struct notice {
    char text[LINE_CAPACITY] = {};
    size_t length = 0;
};

// One line per drive whose last update left it in its update firmware.
struct left_drive {
    char device[32] = {};
    volatile sig_atomic_t left = 0;
    notice told;
};
left_drive left_drives[MAX_DRIVES];

volatile sig_atomic_t window_open = 0;
volatile sig_atomic_t held_signal = 0;
volatile sig_atomic_t run_finished = 0;
bool update_begun = false;
notice held_notice;

void set_notice(notice& n, const char* format, const char* device) {
    const int length = std::snprintf(n.text, sizeof n.text, format, device);
    n.length = length < 0 ? 0 : std::min(static_cast<size_t>(length), sizeof n.text - 1);
}

void write_notice(const notice& n) {
    size_t done = 0;
    while (done < n.length) {
        const ssize_t written = ::write(STDERR_FILENO, n.text + done, n.length - done);
        if (written <= 0) return;
        done += static_cast<size_t>(written);
    }
}

// The drives' media polling given back and those left in their update
// firmware named, once, whichever way out the run takes first.
void finish_run() {
    if (run_finished) return;
    run_finished = 1;
    restore_all_media_polling();
    for (const left_drive& drive : left_drives)
        if (drive.left) write_notice(drive.told);
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

void on_signal(int signal_number) {
    if (window_open) {
        if (held_signal == 0) {
            held_signal = signal_number;
            write_notice(held_notice);
        }
        return;
    }
    finish_run();
    end_by_signal(signal_number);
}

left_drive* drive_named(const char* device) {
    left_drive* free_entry = nullptr;
    for (left_drive& drive : left_drives) {
        if (std::strcmp(drive.device, device) == 0) return &drive;
        if (free_entry == nullptr && drive.device[0] == '\0') free_entry = &drive;
    }
    if (free_entry) {
        std::snprintf(free_entry->device, sizeof free_entry->device, "%s", device);
        set_notice(free_entry->told,
                   "odd-fwupdate: %s is still in its update firmware; run odd-fwupdate again to complete its update\n",
                   free_entry->device);
    }
    return free_entry;
}

left_drive* current_drive = nullptr;

}  // namespace

void guard_updates() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    // Console write errors are ignored; a reader that went away must not end an update.
    ::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = on_signal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal_number : HELD_SIGNALS) sigaddset(&action.sa_mask, signal_number);
    for (int signal_number : HELD_SIGNALS) {
        struct sigaction before {};
        if (::sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        ::sigaction(signal_number, &action, nullptr);
    }
    std::atexit(finish_run_at_exit);
}

void begin_update_window(const char* device) {
    update_begun = true;
    current_drive = drive_named(device ? device : "");
    set_notice(held_notice,
               "odd-fwupdate: the update of %s cannot be interrupted; the program stops when it is done\n",
               current_drive ? current_drive->device : "the drive");
    window_open = 1;
}

int end_update_window(int left_in_update_firmware) {
    if (current_drive) current_drive->left = left_in_update_firmware != 0;
    current_drive = nullptr;
    window_open = 0;
    const int signal_number = held_signal;
    if (signal_number == 0) return 0;
    std::fflush(stdout);
    std::fflush(stderr);
    finish_run();
    end_by_signal(signal_number);
}

bool any_update_begun() { return update_begun; }
