// The Linux backend of the platform table: the table itself and the calls
// that are one-liners on Linux (the system's identity, memory, the clock,
// the least the updater expects of what Linux does not have: no registry
// keys, no ASPI manager, the NT family). Drives are in devices.cpp, files in
// files.cpp, the user's side in console.cpp; what they share in host_state.h.
#include "platform/linux/linux_host.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/host.h"
#include "platform/linux/device_map.h"
#include "platform/linux/host_state.h"
#include "platform/linux/media_polling.h"
#include "platform/linux/retrying_calls.h"
#include "platform/linux/sg_io.h"
#include "platform/linux/update_window.h"

namespace linux_host {

open_handle handles[MAX_HANDLES];
DWORD last_error = ERROR_SUCCESS;
char last_error_words[48] = {};
uint16_t last_host_status = 0;
uint16_t last_driver_status = 0;

BOOL fail(DWORD error, int errno_value) {
    last_error = error;
    last_host_status = last_driver_status = 0;
    if (errno_value != 0) std::snprintf(last_error_words, sizeof last_error_words, "errno %d", errno_value);
    else last_error_words[0] = '\0';
    return FALSE;
}

HANDLE fail_open(DWORD error, int errno_value) {
    fail(error, errno_value);
    return INVALID_HANDLE_VALUE;
}

BOOL fail_errno(int errno_value) { return fail(error_for_errno(errno_value), errno_value); }
HANDLE fail_open_errno(int errno_value) { return fail_open(error_for_errno(errno_value), errno_value); }

open_handle* handle_of(HANDLE handle) {
    const auto at = reinterpret_cast<uintptr_t>(handle);
    const auto first = reinterpret_cast<uintptr_t>(&handles[0]);
    if (at < first || at >= first + sizeof handles || (at - first) % sizeof(open_handle) != 0) return nullptr;
    open_handle* h = &handles[(at - first) / sizeof(open_handle)];
    return h->kind == open_handle::unused ? nullptr : h;
}

open_handle* free_handle() {
    for (open_handle& h : handles)
        if (h.kind == open_handle::unused) return &h;
    return nullptr;
}

// --- handles: drives and files ----------------------------------------------

HANDLE l_CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE) {
    if (name == nullptr) return fail_open(ERROR_INVALID_PARAMETER);
    if (disposition != OPEN_EXISTING) return fail_open(ERROR_NOT_SUPPORTED);
    open_handle* h = free_handle();
    if (h == nullptr) return fail_open(ERROR_NOT_ENOUGH_MEMORY);
    return std::strncmp(name, "\\\\.\\", 4) == 0 ? open_drive(*h, name, access) : open_file(*h, name, access);
}

// D: to Z: stand for /dev/sr0 to /dev/sr22: every one there is an optical
// drive, whether or not this run may open it. A path-only open asks the
// device nothing.
UINT l_GetDriveTypeA(LPCSTR root) {
    if (root == nullptr || std::strlen(root) < 2 || root[1] != ':') return DRIVE_NO_ROOT_DIR;
    const std::string device = device_for_path((std::string("\\\\.\\") + root[0] + ":").c_str());
    if (device.empty()) return DRIVE_NO_ROOT_DIR;
    const int there = open_retrying(device.c_str(), O_PATH | O_CLOEXEC);
    if (there >= 0) {
        ::close(there);
        return DRIVE_CDROM;
    }
    return errno == ENOENT || errno == ENXIO || errno == ENODEV ? DRIVE_NO_ROOT_DIR : DRIVE_CDROM;
}

BOOL l_DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                       LPDWORD returned, LPOVERLAPPED) {
    open_handle* h = handle_of(handle);
    if (h == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (h->kind == open_handle::file) return fail(ERROR_INVALID_FUNCTION);
    return drive_io_control(*h, code, in, in_size, out, out_size, returned);
}

BOOL l_CloseHandle(HANDLE handle) {
    open_handle* h = handle_of(handle);
    if (h == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (!h->kept && h->fd >= 0) ::close(h->fd);
    *h = open_handle{};
    return TRUE;
}

DWORD l_GetLastError() { return last_error; }
void l_adapter_status(uint16_t* host_status, uint16_t* driver_status) {
    *host_status = last_host_status;
    *driver_status = last_driver_status;
}

void l_system_error_text(char* text, size_t size) {
    if (size) std::snprintf(text, size, "%s", last_error_words);
}

// --- system identity and configuration -------------------------------------

BOOL l_GetVersionExA(OSVERSIONINFOA* info) {
    if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) return fail(ERROR_INVALID_PARAMETER);
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 2600;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return TRUE;
}

LONG l_RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY result) {
    if (result) *result = nullptr;
    return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
}

LONG l_RegCloseKey(HKEY) { return static_cast<LONG>(ERROR_INVALID_HANDLE); }

constexpr UINT CODE_PAGE_JAPANESE = 932;
constexpr UINT CODE_PAGE_US = 437;

UINT l_GetOEMCP() { return locale.japanese ? CODE_PAGE_JAPANESE : CODE_PAGE_US; }

// --- global memory: fixed blocks, the handle is the address ----------------

// SG_IO hands a buffer to an ATAPI drive directly only when it meets the
// queue's 512-byte DMA alignment, and copies it through a bounce buffer
// otherwise; page-aligned blocks keep every image block on the direct path.
constexpr size_t BLOCK_ALIGNMENT = 4096;

HGLOBAL l_GlobalAlloc(UINT flags, SIZE_T bytes) {
    void* memory = nullptr;
    if (::posix_memalign(&memory, BLOCK_ALIGNMENT, bytes ? bytes : 1) != 0) {
        last_error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    if (flags & GMEM_ZEROINIT) std::memset(memory, 0, bytes);
    return memory;
}

LPVOID l_GlobalLock(HGLOBAL memory) { return memory; }

BOOL l_GlobalUnlock(HGLOBAL) {
    last_error = ERROR_SUCCESS;
    return FALSE;  // the lock count reached zero
}

HGLOBAL l_GlobalFree(HGLOBAL memory) {
    std::free(memory);
    return nullptr;
}

// --- no ASPI manager on Linux ----------------------------------------------

HMODULE l_LoadLibraryA(LPCSTR) {
    last_error = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

FARPROC l_GetProcAddress(HMODULE, LPCSTR) {
    last_error = ERROR_INVALID_HANDLE;
    return nullptr;
}

HANDLE l_CreateEventA(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) {
    last_error = ERROR_NOT_SUPPORTED;
    return nullptr;
}

DWORD l_WaitForSingleObject(HANDLE, DWORD) {
    last_error = ERROR_INVALID_HANDLE;
    return WAIT_FAILED;
}

void l_Sleep(DWORD ms) {
    sleep_retrying({static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L});
}

// --- the user and the clock ------------------------------------------------

MMRESULT l_timeBeginPeriod(UINT period) { return period == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }

DWORD l_timeGetTime() {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

MMRESULT l_timeEndPeriod(UINT period) { return period == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }

void l_begin_drive_update(const char* path) {
    const std::string device = device_for_path(path);
    begin_update_window(host_line(host_notice::held, device.empty() ? path : device.c_str()).c_str());
}

int l_end_drive_update() { return end_update_window(); }

void l_machine_identity(char* name, size_t name_size, char* system, size_t system_size) {
    if (name_size > 0 && ::gethostname(name, name_size) != 0) name[0] = '\0';
    if (name_size > 0) name[name_size - 1] = '\0';
    if (system_size > 0) std::snprintf(system, system_size, "linux");
}

constexpr host_calls linux_calls() {
    host_calls c{};
    c.CreateFileA = l_CreateFileA;
    c.DeviceIoControl = l_DeviceIoControl;
    c.CloseHandle = l_CloseHandle;
    c.GetLastError = l_GetLastError;
    c.GetFileSize = l_GetFileSize;
    c.ReadFile = l_ReadFile;
    c.GetVersionExA = l_GetVersionExA;
    c.RegOpenKeyExA = l_RegOpenKeyExA;
    c.RegCloseKey = l_RegCloseKey;
    c.GetOEMCP = l_GetOEMCP;
    c.GetDriveTypeA = l_GetDriveTypeA;
    c.GlobalAlloc = l_GlobalAlloc;
    c.GlobalLock = l_GlobalLock;
    c.GlobalUnlock = l_GlobalUnlock;
    c.GlobalFree = l_GlobalFree;
    c.LoadLibraryA = l_LoadLibraryA;
    c.GetProcAddress = l_GetProcAddress;
    c.CreateEventA = l_CreateEventA;
    c.WaitForSingleObject = l_WaitForSingleObject;
    c.Sleep = l_Sleep;
    c.MessageBoxA = l_MessageBoxA;
    c.write_console = l_write_console;
    c.timeBeginPeriod = l_timeBeginPeriod;
    c.timeGetTime = l_timeGetTime;
    c.timeEndPeriod = l_timeEndPeriod;
    c.begin_drive_update = l_begin_drive_update;
    c.end_drive_update = l_end_drive_update;
    c.target_found = l_target_found;
    c.drive_firmware_state = l_drive_firmware_state;
    c.write_notice = l_write_notice;
    c.device_name = l_device_name;
    c.machine_identity = l_machine_identity;
    c.append_to_file = l_append_to_file;
    c.write_file_whole = l_write_file_whole;
    c.keep_record_open = l_keep_record_open;
    c.record_on_standard_output = l_record_on_standard_output;
    c.claim_machine = l_claim_machine;
    c.same_file = l_same_file;
    c.prepare_last_record = prepare_last_record;
    c.hold_ways_out = hold_ways_out;
    c.final_exit_code = exit_code_of_run;
    c.console_is_a_screen = l_console_is_a_screen;
    c.drive_serial = l_drive_serial;
    c.system_error_text = l_system_error_text;
    c.adapter_status = l_adapter_status;
    return c;
}

constexpr host_calls linux_table = linux_calls();
// A sanitized build cannot fold the address of a function defined in another
// of the host's files into a constant; every plain build checks the table.
#if !defined(__SANITIZE_ADDRESS__)
static_assert(every_call_filled(linux_table), "a platform call left out of the table");
#endif

}  // namespace linux_host

void install_linux_host() {
    open_missing_standard_descriptors();
    locate_sysfs();
    linux_host::locate_run_folder();
    linux_host::learn_console();
    static bool closing_registered = false;
    if (!closing_registered) closing_registered = std::atexit(linux_host::close_kept_devices) == 0;
    guard_updates();
    install_host(&linux_host::linux_table);
}
