// What the Linux host's files share: the last error, the table of open
// handles (drives, media change handles, image files), the user's locale and
// standard streams, and the host's own notices. Internal to platform/linux.
#pragma once

#include <cstdio>
#include <string>

#include "platform/host.h"
#include "platform/linux/host_notices.h"
#include "platform/linux/terminal.h"

namespace linux_host {

// --- errors and handles (linux_host.cpp) -------------------------------------

constexpr int MAX_HANDLES = 64;  // 23 notification handles, a device and the image file at most

struct open_handle {
    enum kind_t { unused, drive, drive_query, file } kind = unused;
    int fd = -1;
    int device = -1;       // N of /dev/srN
    bool kept = false;     // the descriptor is the drive's kept one
    char path[16] = {};    // "/dev/srN" for devices
};

extern open_handle handles[MAX_HANDLES];
extern DWORD last_error;
// The system's own words for the last failure ("errno 5"), for the record.
extern char last_error_words[48];
// SG_IO's host and driver status of the last call that failed by them; 0 after any other failure.
extern uint16_t last_host_status;
extern uint16_t last_driver_status;

// A failed call: `error` for the updater, and `errno_value` (0: none) as the
// system gave it.
BOOL fail(DWORD error, int errno_value = 0);
HANDLE fail_open(DWORD error, int errno_value = 0);
BOOL fail_errno(int errno_value);
HANDLE fail_open_errno(int errno_value);
open_handle* handle_of(HANDLE handle);
open_handle* free_handle();

// --- the user (console.cpp) ------------------------------------------------------

extern terminal_locale locale;
extern bool stdout_is_terminal;
extern bool stderr_is_terminal;
extern bool stdin_is_terminal;
// Standard error was closed when the program started, or is the null device.
extern bool stderr_goes_nowhere;

bool console_to_utf8();
// A notice's code page 932 bytes as this terminal shows them.
std::string notice_shown(const std::string& text);

// One of the host's own notices in the run's language, made with `args`.
template <typename... Args>
std::string host_line(host_notice notice, Args... args) {
    const char* format = host_notice_text(notice, locale.japanese);
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(static_cast<size_t>(length));
    return notice_shown(text);
}

// A notice on a line of its own, after the console text before it.
void tell(const std::string& line);

// Reads the locale and what the standard streams are; after open_missing_standard_descriptors.
void learn_console();
int l_MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
void l_write_console(const char* bytes, size_t length);
bool l_console_is_a_screen();
void l_record_on_standard_output();
void l_write_notice(const char* text);
void l_target_found(int number, const char* path);
void l_drive_firmware_state(int number, const char* path, int in_update_firmware, const char* notice);
void l_device_name(const char* path, char* name, size_t size);

// --- drives (devices.cpp) -----------------------------------------------------------

// Opens the drive a "\\.\X:" path names into `h`.
HANDLE open_drive(open_handle& h, LPCSTR name, DWORD access);
// DeviceIoControl on an open drive or media change handle.
BOOL drive_io_control(open_handle& h, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                      LPDWORD returned);
// Closes the drives kept open for the run (at exit).
void close_kept_devices();
void l_drive_serial(const char* path, char* serial, size_t size);

// --- files (files.cpp) ----------------------------------------------------------------

// Opens a regular file (an image) into `h`.
HANDLE open_file(open_handle& h, LPCSTR name, DWORD access);
DWORD l_GetFileSize(HANDLE file, LPDWORD size_high);
BOOL l_ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED overlapped);
int l_append_to_file(const char* path, const char* bytes, size_t length);
int l_write_file_whole(const char* path, const char* bytes, size_t length);
int l_keep_record_open(const char* path);
bool l_same_file(const char* a, const char* b);

// --- the machine's claim (machine_claim.cpp) -------------------------------------------

// Finds the folder of the machine's claim file (/run; test builds may move it).
void locate_run_folder();
int l_claim_machine(int reads_only);
// The claim file's descriptor while this run holds it, or -1 (drive claims alone).
int claim_descriptor();
// True once the run has said it sends only commands that read (a check).
bool run_reads_only();

}  // namespace linux_host
