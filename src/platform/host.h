// The seam between the updater and the platform it runs on: one table of every
// platform call the updater makes, a process-wide pointer to the installed
// table, and thin wrappers in namespace host that keep the published names, so
// the updater reads as it would against the Windows API itself. Each program's
// main installs its backend (win32, linux or the simulated host) before the
// entry runs; tests install a fresh simulated host per case.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <mmsystem.h>
#include <ntddscsi.h>
#include <winioctl.h>
#else
#include "platform/win_types.h"
#endif

#include <cstddef>
#include <cstdint>

#include "platform/aspi.h"

struct host_calls {
    // Devices and files.
    HANDLE (*CreateFileA)(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE template_file);
    BOOL (*DeviceIoControl)(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                            DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped);
    BOOL (*CloseHandle)(HANDLE handle);
    DWORD (*GetLastError)();
    DWORD (*GetFileSize)(HANDLE file, LPDWORD size_high);
    BOOL (*ReadFile)(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED overlapped);
    // What the system says is at a drive letter's root ("E:\\"): DRIVE_CDROM
    // for an optical drive, whether or not it can be opened or answers.
    UINT (*GetDriveTypeA)(LPCSTR root);

    // System identity and configuration.
    BOOL (*GetVersionExA)(OSVERSIONINFOA* info);
    LONG (*RegOpenKeyExA)(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result);
    LONG (*RegCloseKey)(HKEY key);
    UINT (*GetOEMCP)();

    // Global memory.
    HGLOBAL (*GlobalAlloc)(UINT flags, SIZE_T bytes);
    LPVOID (*GlobalLock)(HGLOBAL memory);
    BOOL (*GlobalUnlock)(HGLOBAL memory);
    HGLOBAL (*GlobalFree)(HGLOBAL memory);

    // The ASPI manager is reached through the library it loads.
    HMODULE (*LoadLibraryA)(LPCSTR name);
    FARPROC (*GetProcAddress)(HMODULE module, LPCSTR name_or_ordinal);

    // Completion of ASPI requests.
    HANDLE (*CreateEventA)(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state,
                           LPCSTR name);
    DWORD (*WaitForSingleObject)(HANDLE handle, DWORD milliseconds);
    void (*Sleep)(DWORD milliseconds);

    // The user.
    int (*MessageBoxA)(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
    void (*write_console)(const char* bytes, size_t length);

    // The millisecond clock.
    MMRESULT (*timeBeginPeriod)(UINT period);
    DWORD (*timeGetTime)();
    MMRESULT (*timeEndPeriod)(UINT period);

    // The update window of one drive, in which nothing may cut the update
    // short. It opens right before the command that switches the drive into
    // its update firmware (or before its first image block when it runs that
    // firmware already) and closes once its update has ended: its new revision
    // read and judged, or the drive given up. `device` is the path the drive's
    // commands go to ("\\.\E:"), which the backend names as it names a path
    // given to CreateFileA; empty for a drive reached through the ASPI manager.
    // What the drive was left in is what drive_firmware_state told last.
    // end_drive_update returns non-zero when an interrupt was held meanwhile:
    // the run then stops before the next drive.
    void (*begin_drive_update)(const char* device);
    int (*end_drive_update)();
    // Each target, once enumeration has found them all and before any
    // question: its number as the dialogue counts them (1 for the first) and
    // the path its commands go to, as begin_drive_update's.
    void (*target_found)(int number, const char* device);
    // What the updater last learned of target `number` (as target_found
    // numbers it): `in_update_firmware` 1 when the drive runs its update
    // firmware, or may run it (a switch whose answer was lost, an update
    // window still open), 0 when it was seen in other firmware. When the run
    // ends, however it ends, the backend names every drive last told 1, one
    // line each on standard error: `notice`, in the run's language, with %s
    // where the backend puts the drive's name.
    void (*drive_firmware_state)(int number, const char* device, int in_update_firmware, const char* notice);
    // One line for the person at the machine, apart from the console's text
    // (standard error on a real host), in the run's language, starting a line
    // of its own.
    void (*write_notice)(const char* text);
    // The system's own name of the device at `device` (as begin_drive_update's
    // path), where its letter is not its name ("/dev/sr1" on Linux); an empty
    // text elsewhere.
    void (*device_name)(const char* device, char* name, size_t size);
    // The machine's name and its system ("windows", "linux"), for the record.
    void (*machine_identity)(char* name, size_t name_size, char* system, size_t system_size);
    // Appends `length` bytes to the file at `path` (created if missing) in
    // one write, so that lines of runs on other machines do not interleave.
    // 0, or non-zero when the file could not be opened or written.
    int (*append_to_file)(const char* path, const char* bytes, size_t length);
    // Writes `bytes` as the whole of the file at `path`, first into a file of
    // its own beside it (`path`.part) that then takes the name: 0 once the
    // file holds them all, -1 otherwise; the file at `path` never holds
    // part of them.
    int (*write_file_whole)(const char* path, const char* bytes, size_t length);
    // Opens the record at `path` for appending (created if missing) and keeps
    // it open until the process ends: from then on append_to_file and the
    // last record of prepare_last_record with that path write to the file
    // opened here, whatever the path names by then, and same_file judges
    // `path` by it. 0, or non-zero when it cannot be opened: then nothing is
    // written to that path. "-" is standard output, which needs no opening.
    int (*keep_record_open)(const char* path);
    // The record goes to standard output (a log named "-"); told before the
    // run writes anything. From then on the console's text goes to standard
    // error, so that standard output carries the record alone, and
    // append_to_file and prepare_last_record take "-" for standard output,
    // which gets the record's bytes as they are, never as console text.
    void (*record_on_standard_output)();
    // Claims the machine's drives for this run until the process ends, however
    // it ends (a killed run leaves nothing behind): 0 claimed, 1 when another
    // run holds them, so that two runs never send commands into one drive's
    // update, 2 when the claim could not be taken (the run is then refused as
    // well). Asked once, before the first command to any drive.
    // `reads_only` when the run sends only commands that read (a check): a
    // backend may then reach the drives with the rights reading needs.
    int (*claim_machine)(int reads_only);
    // True when `a` and `b` name one and the same existing file, however they
    // spell it (a link, another case, another path to it).
    bool (*same_file)(const char* a, const char* b);
    // The record's last line for a run ended from outside before it writes
    // its own (a signal, Ctrl-C, a closed console, outside a drive's update):
    // `line` with %d where the exit code goes, appended to `path` on such a
    // way out. An empty path: no record. Given again as the run learns more.
    void (*prepare_last_record)(const char* path, const char* line);
    // Holds every way out (a signal, Ctrl-C, a closed console, the session's
    // end) while the run changes its record by more than one step (a drive's
    // final line written, then the lines prepared without it): a way out
    // taken meanwhile waits, and sees the record before or after, never
    // between. 1 holds, 0 lets go; holds nest.
    void (*hold_ways_out)(int hold);
    // The exit code the process ends with, asked once the run has ended with
    // `exit_code`; `stopped_by_interrupt` when an interrupt held during a
    // drive's update stopped it (a backend that then ends by the signal says
    // so here, so that the record and the exit code agree).
    int (*final_exit_code)(int exit_code, int stopped_by_interrupt);
    // True when the console's text reaches a screen (a terminal, a console
    // window); false when it goes to a file or a pipe, a record read later.
    bool (*console_is_a_screen)();
    // The serial number of the drive at `device` (as begin_drive_update's
    // path) as the system already holds it, with no command to the drive:
    // Linux's sysfs VPD page 0x80, Windows' storage device descriptor; an
    // empty text where it holds none (a drive behind the ASPI manager).
    void (*drive_serial)(const char* device, char* serial, size_t size);
    // The system's own words for why the last call failed, for the record:
    // "Windows error 1117", "errno 5", "SG_IO host status 0x03"; an empty
    // text when the system said nothing beyond the failure.
    void (*system_error_text)(char* text, size_t size);
    // What the adapter and its driver said of the last pass-through call that
    // failed, where the system tells it (Linux's SG_IO host and driver
    // status); 0 and 0 where it does not, and after any other failure.
    void (*adapter_status)(uint16_t* host_status, uint16_t* driver_status);
};

// True when a table answers every call: each backend asserts it of its own
// table, which it fills field by field, so a call left out does not compile.
constexpr bool every_call_filled(const host_calls& c) {
    return c.CreateFileA && c.DeviceIoControl && c.CloseHandle && c.GetLastError && c.GetFileSize &&
           c.ReadFile && c.GetDriveTypeA && c.GetVersionExA && c.RegOpenKeyExA && c.RegCloseKey && c.GetOEMCP && c.GlobalAlloc &&
           c.GlobalLock && c.GlobalUnlock && c.GlobalFree && c.LoadLibraryA && c.GetProcAddress &&
           c.CreateEventA && c.WaitForSingleObject && c.Sleep && c.MessageBoxA && c.write_console &&
           c.timeBeginPeriod && c.timeGetTime && c.timeEndPeriod && c.begin_drive_update && c.end_drive_update &&
           c.target_found && c.drive_firmware_state && c.write_notice && c.device_name &&
           c.machine_identity && c.append_to_file && c.write_file_whole && c.keep_record_open && c.record_on_standard_output && c.claim_machine && c.same_file && c.prepare_last_record && c.hold_ways_out &&
           c.final_exit_code && c.console_is_a_screen && c.drive_serial &&
           c.system_error_text && c.adapter_status;
}

// The installed table; null until a program or test installs one.
extern const host_calls* installed_host;
void install_host(const host_calls* calls);

namespace host {

inline HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE template_file) {
    return installed_host->CreateFileA(name, access, share, security, disposition, flags, template_file);
}
inline BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                            DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped) {
    return installed_host->DeviceIoControl(device, code, in, in_size, out, out_size, returned, overlapped);
}
inline BOOL CloseHandle(HANDLE handle) { return installed_host->CloseHandle(handle); }
inline DWORD GetLastError() { return installed_host->GetLastError(); }
inline DWORD GetFileSize(HANDLE file, LPDWORD size_high) { return installed_host->GetFileSize(file, size_high); }
inline BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED overlapped) {
    return installed_host->ReadFile(file, buffer, to_read, read, overlapped);
}
inline UINT GetDriveTypeA(LPCSTR root) { return installed_host->GetDriveTypeA(root); }
inline BOOL GetVersionExA(OSVERSIONINFOA* info) { return installed_host->GetVersionExA(info); }
inline LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result) {
    return installed_host->RegOpenKeyExA(key, sub_key, options, desired, result);
}
inline LONG RegCloseKey(HKEY key) { return installed_host->RegCloseKey(key); }
inline UINT GetOEMCP() { return installed_host->GetOEMCP(); }
inline HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) { return installed_host->GlobalAlloc(flags, bytes); }
inline LPVOID GlobalLock(HGLOBAL memory) { return installed_host->GlobalLock(memory); }
inline BOOL GlobalUnlock(HGLOBAL memory) { return installed_host->GlobalUnlock(memory); }
inline HGLOBAL GlobalFree(HGLOBAL memory) { return installed_host->GlobalFree(memory); }
inline HMODULE LoadLibraryA(LPCSTR name) { return installed_host->LoadLibraryA(name); }
inline FARPROC GetProcAddress(HMODULE module, LPCSTR name_or_ordinal) {
    return installed_host->GetProcAddress(module, name_or_ordinal);
}
inline HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
    return installed_host->CreateEventA(security, manual_reset, initial_state, name);
}
inline DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return installed_host->WaitForSingleObject(handle, milliseconds);
}
inline void Sleep(DWORD milliseconds) { installed_host->Sleep(milliseconds); }
inline int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    return installed_host->MessageBoxA(owner, text, caption, style);
}
inline void write_console(const char* bytes, size_t length) { installed_host->write_console(bytes, length); }
inline MMRESULT timeBeginPeriod(UINT period) { return installed_host->timeBeginPeriod(period); }
inline DWORD timeGetTime() { return installed_host->timeGetTime(); }
inline MMRESULT timeEndPeriod(UINT period) { return installed_host->timeEndPeriod(period); }
inline void begin_drive_update(const char* device) { installed_host->begin_drive_update(device); }
inline int end_drive_update() { return installed_host->end_drive_update(); }
inline void target_found(int number, const char* device) { installed_host->target_found(number, device); }
inline void drive_firmware_state(int number, const char* device, int in_update_firmware, const char* notice) {
    installed_host->drive_firmware_state(number, device, in_update_firmware, notice);
}
inline void write_notice(const char* text) { installed_host->write_notice(text); }
inline void device_name(const char* device, char* name, size_t size) { installed_host->device_name(device, name, size); }
inline void machine_identity(char* name, size_t name_size, char* system, size_t system_size) {
    installed_host->machine_identity(name, name_size, system, system_size);
}
inline int write_file_whole(const char* path, const char* bytes, size_t length) {
    return installed_host->write_file_whole(path, bytes, length);
}
inline int append_to_file(const char* path, const char* bytes, size_t length) {
    return installed_host->append_to_file(path, bytes, length);
}
inline void record_on_standard_output() { installed_host->record_on_standard_output(); }

inline int claim_machine(int reads_only) { return installed_host->claim_machine(reads_only); }
inline bool same_file(const char* a, const char* b) { return installed_host->same_file(a, b); }
inline int keep_record_open(const char* path) { return installed_host->keep_record_open(path); }
inline void prepare_last_record(const char* path, const char* line) { installed_host->prepare_last_record(path, line); }
inline void hold_ways_out(int hold) { installed_host->hold_ways_out(hold); }
inline bool console_is_a_screen() { return installed_host->console_is_a_screen(); }
inline void drive_serial(const char* device, char* serial, size_t size) {
    installed_host->drive_serial(device, serial, size);
}
inline void system_error_text(char* text, size_t size) { installed_host->system_error_text(text, size); }
inline void adapter_status(uint16_t* host_status, uint16_t* driver_status) {
    installed_host->adapter_status(host_status, driver_status);
}
inline int final_exit_code(int exit_code, int stopped_by_interrupt) {
    return installed_host->final_exit_code(exit_code, stopped_by_interrupt);
}

}  // namespace host
