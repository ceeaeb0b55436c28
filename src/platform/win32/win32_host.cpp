// The Windows backend of the platform table: every call goes to the real API.
// The table's pointers use the C calling convention, the API its own, so each
// call passes through a small function here.
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/host.h"
#include "platform/last_record.h"
#include "platform/notice_line.h"
#include "platform/win32/drive_names.h"
#include "platform/win32/file_identity.h"
#include "platform/win32/session_end.h"
#include "platform/win32/win32_host.h"

namespace {

HANDLE w_CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                     DWORD flags, HANDLE template_file) {
    return open_proven(name, access, share, security, disposition, flags, template_file);
}
BOOL w_DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                       LPDWORD returned, LPOVERLAPPED overlapped) {
    if (::DeviceIoControl(device, code, in, in_size, out, out_size, returned, overlapped)) return TRUE;
    const DWORD error = ::GetLastError();
    note_failed_call(device, error);
    ::SetLastError(error);
    return FALSE;
}
BOOL w_CloseHandle(HANDLE handle) {
    forget_handle(handle);
    return ::CloseHandle(handle);
}
DWORD w_GetLastError() { return ::GetLastError(); }
DWORD w_GetFileSize(HANDLE file, LPDWORD size_high) { return ::GetFileSize(file, size_high); }
BOOL w_ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED overlapped) {
    return ::ReadFile(file, buffer, to_read, read, overlapped);
}
BOOL w_GetVersionExA(OSVERSIONINFOA* info) {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    return ::GetVersionExA(info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}
LONG w_RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result) {
    return ::RegOpenKeyExA(key, sub_key, options, desired, result);
}
LONG w_RegCloseKey(HKEY key) { return ::RegCloseKey(key); }
UINT w_GetOEMCP() { return ::GetOEMCP(); }
UINT w_GetDriveTypeA(LPCSTR root) { return ::GetDriveTypeA(root); }
HGLOBAL w_GlobalAlloc(UINT flags, SIZE_T bytes) { return ::GlobalAlloc(flags, bytes); }
LPVOID w_GlobalLock(HGLOBAL memory) { return ::GlobalLock(memory); }
BOOL w_GlobalUnlock(HGLOBAL memory) { return ::GlobalUnlock(memory); }
HGLOBAL w_GlobalFree(HGLOBAL memory) { return ::GlobalFree(memory); }
HMODULE w_LoadLibraryA(LPCSTR name) { return ::LoadLibraryA(name); }
FARPROC w_GetProcAddress(HMODULE module, LPCSTR name_or_ordinal) { return ::GetProcAddress(module, name_or_ordinal); }
HANDLE w_CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
    return ::CreateEventA(security, manual_reset, initial_state, name);
}
DWORD w_WaitForSingleObject(HANDLE handle, DWORD ms) { return ::WaitForSingleObject(handle, ms); }
void w_Sleep(DWORD ms) { ::Sleep(ms); }
int w_MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    return ::MessageBoxA(owner, text, caption, style);
}
// Whether the console's text ends inside a line (a progress line), so that a
// notice on standard error, shown in the same console, starts a line of its own.
std::atomic<bool> console_line_open{false};
// The record has standard output to itself (a log named "-"): the console's
// text goes to standard error, with the notices.
bool console_on_stderr = false;

HANDLE console_handle() { return ::GetStdHandle(console_on_stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE); }

bool same_console() {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    return out != nullptr && err != nullptr && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
           ::GetFileType(out) == FILE_TYPE_CHAR && ::GetFileType(err) == FILE_TYPE_CHAR;
}

// Each text goes out in one WriteFile: the C runtime writes an unbuffered
// console one byte per call, and a console shows a code page 932 character
// split across two writes as garbage. The bytes are the text's own, with no
// "\n" made "\r\n". Without a standard output handle the runtime writes;
// without a standard error handle the text goes nowhere.
void w_write_console(const char* bytes, size_t length) {
    if (length > 0) console_line_open = bytes[length - 1] != '\n';
    const HANDLE out = console_handle();
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (console_on_stderr) return;
        std::fwrite(bytes, 1, length, stdout);
        std::fflush(stdout);  // progress lines must show while the drive works
        return;
    }
    DWORD written = 0;
    while (length > 0 && ::WriteFile(out, bytes, static_cast<DWORD>(length), &written, nullptr) && written > 0) {
        bytes += written;
        length -= written;
    }
}
MMRESULT w_timeBeginPeriod(UINT period) { return ::timeBeginPeriod(period); }
DWORD w_timeGetTime() { return ::timeGetTime(); }
MMRESULT w_timeEndPeriod(UINT period) { return ::timeEndPeriod(period); }
// The drives that are, or may be, in their update firmware, each with the
// line that names it: written once when the run ends, however it ends (the
// program's own end, Ctrl-C or Ctrl-Break outside an update window, the
// console closing, the user logging off, the system shutting down).
constexpr int MAX_NAMED_DRIVES = 256;
constexpr size_t NOTICE_CAPACITY = 320;
struct named_drive {
    std::atomic<bool> left{false};
    char line[NOTICE_CAPACITY] = {};
    DWORD length = 0;
};
named_drive named_drives[MAX_NAMED_DRIVES];
std::atomic<bool> drives_named{false};

void write_to_standard_error(const char* text, DWORD length) {
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    while (length > 0 && ::WriteFile(err, text, length, &written, nullptr) && written > 0) {
        text += written;
        length -= written;
    }
}

// A whole line on standard error, starting a line of its own in the console.
void write_notice_line(const char* text, DWORD length) {
    if (length == 0) return;
    if (console_line_open.exchange(false) && (console_on_stderr || same_console()))
        write_to_standard_error("\n", 1);
    write_to_standard_error(text, length);
}

void name_left_drives() {
    if (drives_named.exchange(true)) return;
    for (const named_drive& drive : named_drives)
        if (drive.left) write_notice_line(drive.line, drive.length);
}

// The update window on Windows: Ctrl-C and Ctrl-Break are swallowed and
// remembered, so the run stops only once the drive's update has ended, and the
// machine is kept from sleeping and a shutdown or logoff waits meanwhile
// (session_end.cpp). A closing console window Windows
// does not let anyone refuse; its handler names the drives and holds the
// process only as long as Windows allows, while the drive's update goes on in
// the main thread. Outside a window every event, and the end of the session,
// ends the run at once, after the drives are named, with the record's last
// lines and an exit code that says so.
std::atomic<bool> in_update_window{false};
std::atomic<bool> interrupt_held{false};

// The notice of a held interrupt, in the run's language (code page 932 bytes
// for a Japanese console: "このドライブの更新は中断できません。更新が終わりしだいプログラムを終了します").
const char HELD_ENGLISH[] =
    "odd-fwupdate: the update of this drive cannot be interrupted; the program stops when it is done\n";
const char HELD_JAPANESE[] =
    "odd-fwupdate: \x82\xB1\x82\xCC\x83h\x83\x89\x83" "C\x83u\x82\xCC\x8DX\x90V\x82\xCD\x92\x86\x92" "f\x82\xC5\x82"
    "\xAB\x82\xDC\x82\xB9\x82\xF1\x81" "B\x8DX\x90V\x82\xAA\x8FI\x82\xED\x82\xE8\x82\xB5\x82\xBE\x82\xA2\x83v"
    "\x83\x8D\x83O\x83\x89\x83\x80\x82\xF0\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7\n";
std::atomic<bool> held_notice_japanese{false};

// Exit codes of a run ended from outside, as the same way out ends the Linux
// build by its signal, not the system's default, which a batch file can read
// as success: Ctrl-C 128 + SIGINT; a closed console, like a terminal hung up,
// 128 + SIGHUP; the end of the session (a logoff, a shutdown) 128 + SIGTERM,
// the signal a Linux machine sends every process of a session that ends.
constexpr UINT EXIT_INTERRUPTED = 130;
constexpr UINT EXIT_CONSOLE_CLOSED = 129;
constexpr UINT EXIT_SESSION_ENDED = 143;
last_record run_record;
// The main thread prepares the record's last lines, a handler's thread (a
// console event, the session's end) renders them: under this lock each sees
// them whole, and a way out waits while the run holds it (hold_ways_out).
CRITICAL_SECTION record_lock;

void w_prepare_last_record(const char* path, const char* line) {
    ::EnterCriticalSection(&record_lock);
    run_record.prepare(path, line);
    ::LeaveCriticalSection(&record_lock);
}

void w_hold_ways_out(int hold) {
    if (hold) ::EnterCriticalSection(&record_lock);
    else ::LeaveCriticalSection(&record_lock);
}
int w_final_exit_code(int exit_code, int) { return exit_code; }

// Windows tells a failed pass-through call by its error alone.
void w_adapter_status(uint16_t* host_status, uint16_t* driver_status) { *host_status = *driver_status = 0; }

void w_system_error_text(char* text, size_t size) {
    const DWORD error = ::GetLastError();
    if (size == 0) return;
    text[0] = '\0';
    if (error != ERROR_SUCCESS) std::snprintf(text, size, "Windows error %lu", static_cast<unsigned long>(error));
}

// The storage device descriptor the port driver keeps: no command reaches
// the drive. A drive behind the ASPI manager has no path, and none.
void w_drive_serial(const char* device, char* serial, size_t size) {
    if (size == 0) return;
    serial[0] = '\0';
    if (device == nullptr || *device == '\0') return;
    const HANDLE handle = ::CreateFileA(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    alignas(8) char answer[1024] = {};
    DWORD returned = 0;
    const BOOL known = ::DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer,
                                         sizeof answer - 1, &returned, nullptr);
    ::CloseHandle(handle);
    const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(answer);
    if (!known || returned < sizeof *descriptor || descriptor->SerialNumberOffset == 0 ||
        descriptor->SerialNumberOffset >= returned)
        return;
    std::string text(answer + descriptor->SerialNumberOffset);
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    std::snprintf(serial, size, "%s", text.c_str());
}

bool w_console_is_a_screen() {
    DWORD mode = 0;
    return ::GetConsoleMode(console_handle(), &mode) != 0;
}

void w_record_on_standard_output() { console_on_stderr = true; }

// Writes `length` bytes of whole lines to `file` in one write: true when all
// went. A write cut short (a full disk) is ended with a line end where one
// can be written, so that the next record, this run's or another machine's,
// starts a line of its own; what was written stays, since another machine
// may have appended to a shared log after it.
bool write_record(HANDLE file, const char* bytes, size_t length) {
    DWORD written = 0;
    if (::WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr) && written == length) return true;
    DWORD ended = 0;
    if (written != 0) ::WriteFile(file, "\n", 1, &ended, nullptr);
    return false;
}

// Appends the run's last lines with `exit_code` to the record (standard
// output for "-") and ends the process with it.
[[noreturn]] void end_from_outside(UINT exit_code) {
    // Never let go: the process ends holding it, so the main thread changes
    // the record no more.
    ::EnterCriticalSection(&record_lock);
    const size_t length = run_record.render(static_cast<int>(exit_code));
    const bool to_output = std::strcmp(run_record.path, "-") == 0;
    const HANDLE file = length == 0  ? INVALID_HANDLE_VALUE
                        : to_output ? ::GetStdHandle(STD_OUTPUT_HANDLE)
                                    : ::CreateFileA(run_record.path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != nullptr && file != INVALID_HANDLE_VALUE) {
        write_record(file, run_record.text, length);
        if (!to_output) ::CloseHandle(file);
    }
    // At once, from the handler's thread: the main thread may be inside a
    // box or a command, and a process that unwinds around it can end with
    // another code.
    ::TerminateProcess(::GetCurrentProcess(), exit_code);
    ::ExitProcess(exit_code);
}

BOOL WINAPI guard_console_events(DWORD event) {
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    if (interrupt && in_update_window) {
        if (!interrupt_held.exchange(true)) {
            if (held_notice_japanese) write_notice_line(HELD_JAPANESE, sizeof HELD_JAPANESE - 1);
            else write_notice_line(HELD_ENGLISH, sizeof HELD_ENGLISH - 1);
        }
        return TRUE;
    }
    name_left_drives();
    if (!interrupt) {
        // Windows holds a closing console only a few seconds: the drive's update goes on meanwhile.
        while (in_update_window) ::Sleep(100);
        end_from_outside(event == CTRL_CLOSE_EVENT ? EXIT_CONSOLE_CLOSED : EXIT_SESSION_ENDED);
    }
    end_from_outside(EXIT_INTERRUPTED);
}

// The session ends all the same (on the session window's thread): Windows
// ends the process as soon as this returns, so the run ends itself first,
// with its last lines. Inside an update window only a forced shutdown comes
// here, and the drive's update cannot outlive it: its line says the drive is
// left in its update firmware.
void end_with_session() {
    name_left_drives();
    end_from_outside(EXIT_SESSION_ENDED);
}

// Windows 95 and NT 4 have no execution state; there the machine's own power
// settings stay in charge.
void keep_awake(EXECUTION_STATE state) {
    using set_state_fn = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE);
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    const FARPROC address = kernel != nullptr ? ::GetProcAddress(kernel, "SetThreadExecutionState") : nullptr;
    if (address != nullptr) reinterpret_cast<set_state_fn>(reinterpret_cast<void (*)()>(address))(state);
}

void w_begin_drive_update(const char*) {
    held_notice_japanese = ::GetOEMCP() == 932;
    interrupt_held = false;
    in_update_window = true;
    keep_awake(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    hold_session_end(true);
}

int w_end_drive_update() {
    hold_session_end(false);
    keep_awake(ES_CONTINUOUS);
    in_update_window = false;
    return interrupt_held.exchange(false) ? 1 : 0;
}
// The drive letter is the device's own name on Windows: nothing to add.
void w_target_found(int, const char*) {}

void w_drive_firmware_state(int number, const char* device, int in_update_firmware, const char* notice) {
    if (number < 1 || number > MAX_NAMED_DRIVES) return;
    named_drive& drive = named_drives[number - 1];
    // "\\.\E:" is named E:; a drive behind the ASPI manager by its number.
    const std::string name = device != nullptr && std::strlen(device) == 6 ? std::string(device + 4)
                                                                            : "No." + std::to_string(number);
    drive.left = false;
    const std::string line = format_notice(notice != nullptr ? notice : "", name);
    const size_t length = line.size() < NOTICE_CAPACITY ? line.size() : NOTICE_CAPACITY - 1;
    std::memcpy(drive.line, line.data(), length);
    drive.length = static_cast<DWORD>(length);
    drive.left = in_update_firmware != 0;
}

// A drive letter is the device's own name on Windows.
void w_device_name(const char*, char* name, size_t size) {
    if (size > 0) name[0] = '\0';
}

// The machine's name in UTF-8, as the record is written: Windows gives it in
// the ANSI code page (932 on a Japanese system). Made by hand from UTF-16,
// since Windows 95 converts to no UTF-8 itself.
void w_machine_identity(char* name, size_t name_size, char* system, size_t system_size) {
    if (system_size > 0) std::snprintf(system, system_size, "windows");
    if (name_size == 0) return;
    name[0] = '\0';
    char ansi[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof ansi;
    wchar_t wide[MAX_COMPUTERNAME_LENGTH + 1] = {};
    if (!::GetComputerNameA(ansi, &size) ||
        ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, MAX_COMPUTERNAME_LENGTH + 1) == 0)
        return;
    std::string utf8;
    for (size_t i = 0; wide[i] != 0; ++i) {
        unsigned code = wide[i];
        if (code >= 0xD800 && code <= 0xDBFF && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (wide[++i] - 0xDC00);
        if (code < 0x80) {
            utf8 += static_cast<char>(code);
        } else if (code < 0x800) {
            utf8 += static_cast<char>(0xC0 | code >> 6);
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            utf8 += static_cast<char>(0xE0 | code >> 12);
            utf8 += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | code >> 18);
            utf8 += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            utf8 += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    std::snprintf(name, name_size, "%s", utf8.c_str());
}

// True when the file ends inside a line (a record cut short here or by
// another machine): the next record must start on a line of its own.
bool ends_inside_a_line(HANDLE file, DWORD size) {
    if (size == 0 || size == INVALID_FILE_SIZE || ::SetFilePointer(file, static_cast<LONG>(size - 1), nullptr, FILE_BEGIN) ==
                                                     INVALID_SET_FILE_POINTER)
        return false;
    char last = '\n';
    DWORD read = 0;
    return ::ReadFile(file, &last, 1, &read, nullptr) && read == 1 && last != '\n';
}

// Opens the record at `path` for appending, whoever else appends to the
// same file on a shared folder; INVALID_HANDLE_VALUE when it cannot be.
HANDLE open_record_file(const char* path) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA | FILE_READ_DATA, share, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)  // a drop box: written, not read
        file = ::CreateFileA(path, FILE_APPEND_DATA, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file;
}

// The record the run opened once it knew the record is not the image: never
// reopened by its path, which may lead elsewhere by now.
std::string kept_record_path;
HANDLE kept_record = INVALID_HANDLE_VALUE;

int w_keep_record_open(const char* path) {
    if (std::strcmp(path, "-") == 0) return 0;
    if (kept_record != INVALID_HANDLE_VALUE) ::CloseHandle(kept_record);
    kept_record = open_record_file(path);
    kept_record_path = path;
    return kept_record != INVALID_HANDLE_VALUE ? 0 : -1;
}

// Windows 95 has no working MoveFileExA: the old file goes, then the new takes its name.
int w_write_file_whole(const char* path, const char* bytes, size_t length) {
    const std::string part = std::string(path) + ".part";
    const HANDLE file =
        ::CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    DWORD done = 0;
    const bool written = ::WriteFile(file, bytes, static_cast<DWORD>(length), &done, nullptr) && done == length;
    if (::CloseHandle(file) && written) {
        ::DeleteFileA(path);
        if (::MoveFileA(part.c_str(), path)) return 0;
    }
    ::DeleteFileA(part.c_str());
    return -1;
}

int w_append_to_file(const char* path, const char* bytes, size_t length) {
    if (std::strcmp(path, "-") == 0) {
        const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        return out != nullptr && out != INVALID_HANDLE_VALUE && write_record(out, bytes, length) ? 0 : -1;
    }
    const bool kept = !kept_record_path.empty() && kept_record_path == path;
    const HANDLE file = kept ? kept_record : open_record_file(path);
    if (file == INVALID_HANDLE_VALUE) return -1;
    std::string line = ends_inside_a_line(file, ::GetFileSize(file, nullptr)) ? "\n" : "";
    line.append(bytes, length);
    const bool written = write_record(file, line.data(), line.size());
    if (!kept) ::CloseHandle(file);
    return written ? 0 : -1;
}

// The claim on the machine's drives is a pair of named mutexes, held (never
// closed) until the process ends, when Windows drops them however the process
// ended. Every run takes every name another copy on this machine may hold,
// whatever version Windows reports to it (the "Windows 98/Me" compatibility
// mode reports 9x on a system with sessions): the name in the global
// namespace, which a run in another session (a second user, a remote desktop,
// a service) meets, and the bare one, which is all Windows 95, 98, Me and NT 4
// have. Either one held by another run refuses this one; a name that cannot be
// taken refuses it too, except the global one on a system with no such
// namespace. A mutex another user created is there though this one may not
// open it. Pass-through needs a handle with write access for every command,
// reading ones too: a check claims the drives as an update does.
constexpr char GLOBAL_CLAIM[] = "Global\\odd-fwupdate.drives";
constexpr char BARE_CLAIM[] = "odd-fwupdate.drives";
constexpr int CLAIMED = 0;
constexpr int HELD_BY_ANOTHER_RUN = 1;
constexpr int NOT_TAKEN = 2;

// The system's answer when a name's namespace is not there: NT 4 has no
// "Global" folder of objects, and 95, 98 and Me may take no backslash.
bool no_such_namespace(DWORD error) {
    return error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_PATHNAME || error == ERROR_INVALID_NAME;
}

// Creates the mutex `name`: its handle (`existed` when another handle held it
// already), or null with the system's error. Windows 95, 98 and Me may leave
// a stale error after a call that succeeds, so the error is cleared first
// and read only after a mutex came.
HANDLE take_mutex(const char* name, bool& existed, DWORD& error) {
    ::SetLastError(ERROR_SUCCESS);
    const HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name);
    error = ::GetLastError();
    existed = mutex != nullptr && error == ERROR_ALREADY_EXISTS;
    return mutex;
}

// Where the session has no namespace of its own (session 0 of Windows 2000
// and XP, the services' session), the bare name is the global name: told by
// a name only this process uses, made global and looked for bare.
bool one_namespace_here() {
    char probe[64];
    std::snprintf(probe, sizeof probe, "Global\\odd-fwupdate.probe.%lu",
                  static_cast<unsigned long>(::GetCurrentProcessId()));
    bool existed = false;
    DWORD error = 0;
    const HANDLE global = take_mutex(probe, existed, error);
    if (global == nullptr) return false;
    const HANDLE bare = take_mutex(probe + 7, existed, error);
    if (bare != nullptr) ::CloseHandle(bare);
    ::CloseHandle(global);
    return bare != nullptr && existed;
}

// The outcome of a name that came with no mutex.
int refused_for(DWORD error) { return error == ERROR_ACCESS_DENIED ? HELD_BY_ANOTHER_RUN : NOT_TAKEN; }

int w_claim_machine(int) {
    bool existed = false;
    DWORD error = 0;
    const HANDLE global = take_mutex(GLOBAL_CLAIM, existed, error);
    if (global == nullptr && !no_such_namespace(error)) return refused_for(error);
    if (existed) {
        ::CloseHandle(global);  // a refused run leaves the claim to its holder alone
        return HELD_BY_ANOTHER_RUN;
    }
    const HANDLE bare = take_mutex(BARE_CLAIM, existed, error);
    int outcome = bare == nullptr ? refused_for(error) : CLAIMED;
    if (existed && !(global != nullptr && one_namespace_here())) outcome = HELD_BY_ANOTHER_RUN;
    if (outcome != CLAIMED) {
        if (bare != nullptr) ::CloseHandle(bare);
        if (global != nullptr) ::CloseHandle(global);
    }
    return outcome;
}

// The full path of `name` in its long form (where the system has no long
// forms, 95 and NT 4, in its short one: either way one spelling per file).
bool full_path(const char* name, std::string& path) {
    char full[MAX_PATH];
    const DWORD length = ::GetFullPathNameA(name, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return false;
    using long_path_fn = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    const FARPROC address = kernel != nullptr ? ::GetProcAddress(kernel, "GetLongPathNameA") : nullptr;
    char spelt[MAX_PATH];
    const DWORD spelt_length =
        address != nullptr ? reinterpret_cast<long_path_fn>(reinterpret_cast<void (*)()>(address))(full, spelt, sizeof spelt)
                           : ::GetShortPathNameA(full, spelt, sizeof spelt);
    if (spelt_length == 0 || spelt_length >= sizeof spelt) return false;
    path = spelt;
    return true;
}

// Whether the file system of the volume `path` is on keeps an index that
// stays with each file: the FAT family does not. A volume whose file system
// cannot be told is taken to keep one, and its index still counts.
bool index_kept(const std::string& path) {
    std::string root;
    if (path.size() >= 3 && path[1] == ':') {
        root = path.substr(0, 3);
    } else if (path.rfind("\\\\", 0) == 0) {  // \\server\share\ ...
        const size_t share = path.find('\\', 2);
        const size_t end = share == std::string::npos ? share : path.find('\\', share + 1);
        root = end == std::string::npos ? path + "\\" : path.substr(0, end + 1);
    } else {
        return true;
    }
    char system[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, system, sizeof system))
        return true;
    const std::string name = system;
    return name.rfind("FAT", 0) != 0 && name != "exFAT" && name != "VFAT";
}

// One file is one volume and one index on it, however its path is spelt;
// where the volume keeps no index, or the index cannot be read, one full path
// (file_identity.h). A name that leads to no file is not the image. The kept
// record is described through the handle kept, never by its path again.
bool w_same_file(const char* a, const char* b) {
    file_identity identity[2];
    std::string paths[2];
    bool spelt[2] = {};
    const char* names[2] = {a, b};
    for (int i = 0; i < 2; ++i) {
        if (names[i] == nullptr) return false;
        const bool kept = kept_record != INVALID_HANDLE_VALUE && kept_record_path == names[i];
        const HANDLE file = kept ? kept_record
                                 : ::CreateFileA(names[i], 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
        }
        BY_HANDLE_FILE_INFORMATION info{};
        const bool known = file != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(file, &info);
        if (file != INVALID_HANDLE_VALUE && !kept) ::CloseHandle(file);
        spelt[i] = full_path(names[i], paths[i]);
        identity[i].volume = info.dwVolumeSerialNumber;
        identity[i].index_high = info.nFileIndexHigh;
        identity[i].index_low = info.nFileIndexLow;
        identity[i].index_kept = known && (!spelt[i] || index_kept(paths[i]));
    }
    path_match match = path_match::unknown;
    if (spelt[0] && spelt[1])
        match = ::lstrcmpiA(paths[0].c_str(), paths[1].c_str()) == 0 ? path_match::same : path_match::different;
    return one_file(identity[0], identity[1], match);
}

void w_write_notice(const char* text) {
    if (text != nullptr) write_notice_line(text, static_cast<DWORD>(std::strlen(text)));
}

constexpr host_calls win32_calls() {
    host_calls c{};
    c.CreateFileA = w_CreateFileA;
    c.DeviceIoControl = w_DeviceIoControl;
    c.CloseHandle = w_CloseHandle;
    c.GetLastError = w_GetLastError;
    c.GetFileSize = w_GetFileSize;
    c.ReadFile = w_ReadFile;
    c.GetVersionExA = w_GetVersionExA;
    c.RegOpenKeyExA = w_RegOpenKeyExA;
    c.RegCloseKey = w_RegCloseKey;
    c.GetOEMCP = w_GetOEMCP;
    c.GetDriveTypeA = w_GetDriveTypeA;
    c.GlobalAlloc = w_GlobalAlloc;
    c.GlobalLock = w_GlobalLock;
    c.GlobalUnlock = w_GlobalUnlock;
    c.GlobalFree = w_GlobalFree;
    c.LoadLibraryA = w_LoadLibraryA;
    c.GetProcAddress = w_GetProcAddress;
    c.CreateEventA = w_CreateEventA;
    c.WaitForSingleObject = w_WaitForSingleObject;
    c.Sleep = w_Sleep;
    c.MessageBoxA = w_MessageBoxA;
    c.write_console = w_write_console;
    c.timeBeginPeriod = w_timeBeginPeriod;
    c.timeGetTime = w_timeGetTime;
    c.timeEndPeriod = w_timeEndPeriod;
    c.begin_drive_update = w_begin_drive_update;
    c.end_drive_update = w_end_drive_update;
    c.target_found = w_target_found;
    c.drive_firmware_state = w_drive_firmware_state;
    c.write_notice = w_write_notice;
    c.device_name = w_device_name;
    c.machine_identity = w_machine_identity;
    c.append_to_file = w_append_to_file;
    c.write_file_whole = w_write_file_whole;
    c.keep_record_open = w_keep_record_open;
    c.record_on_standard_output = w_record_on_standard_output;
    c.claim_machine = w_claim_machine;
    c.same_file = w_same_file;
    c.prepare_last_record = w_prepare_last_record;
    c.hold_ways_out = w_hold_ways_out;
    c.final_exit_code = w_final_exit_code;
    c.console_is_a_screen = w_console_is_a_screen;
    c.drive_serial = w_drive_serial;
    c.system_error_text = w_system_error_text;
    c.adapter_status = w_adapter_status;
    return c;
}

constexpr host_calls win32_table = win32_calls();
static_assert(every_call_filled(win32_table), "a platform call left out of the table");

}  // namespace

void install_win32_host() {
    ::InitializeCriticalSection(&record_lock);
    // The catalogue's bytes go out as they are: no "\n" becomes "\r\n" on the way.
    _setmode(_fileno(stdout), _O_BINARY);
    ::SetConsoleCtrlHandler(guard_console_events, TRUE);
    hear_session_end(end_with_session);
    install_host(&win32_table);
}

void end_win32_run() {
    name_left_drives();
    settle_session_window();
}
