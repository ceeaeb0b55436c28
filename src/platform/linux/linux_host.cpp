// The Linux backend of the platform table: optical drives through SG_IO on
// /dev/srN, the image file through POSIX files, questions on the terminal, the
// monotonic clock, the update window's held signals, the kernel's media
// polling kept away from the drives, and the least the updater expects of what
// Linux does not have (no registry keys, no ASPI manager, the NT family).
#include "platform/linux/linux_host.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/host.h"
#include "platform/notice_line.h"
#include "platform/storage_queries.h"
#include "platform/linux/device_map.h"
#include "platform/linux/host_notices.h"
#include "platform/linux/media_polling.h"
#include "platform/linux/notice_output.h"
#include "platform/linux/sg_io.h"
#include "platform/linux/terminal.h"
#include "platform/linux/retrying_calls.h"
#include "platform/linux/update_window.h"

// The C library's system call, which it declares nowhere.
extern "C" int capget(cap_user_header_t header, cap_user_data_t data);

namespace {

constexpr int MAX_HANDLES = 64;  // 23 notification handles, a device and the image file at most

constexpr UINT CODE_PAGE_JAPANESE = 932;
constexpr UINT CODE_PAGE_US = 437;

struct open_handle {
    enum kind_t { unused, drive, drive_query, file } kind = unused;
    int fd = -1;
    int device = -1;       // N of /dev/srN
    bool kept = false;     // the descriptor is the drive's kept one
    char path[16] = {};    // "/dev/srN" for devices
};

open_handle handles[MAX_HANDLES];

// Each open of /dev/srN makes the kernel ask the drive for media events and
// TEST UNIT READY, and each last close sends it PREVENT ALLOW MEDIUM REMOVAL.
// A drive in its update firmware should hear nothing but the updater between
// two image blocks, so a drive once opened read-write stays open until the
// process ends and every later CreateFileA hands out the same descriptor.
struct kept_device {
    int fd = -1;
    int flags = 0;
};
kept_device kept_devices[DEVICE_COUNT];

DWORD last_error = ERROR_SUCCESS;
terminal_locale locale;
bool stdout_is_terminal = false;
bool stderr_is_terminal = false;
bool stdin_is_terminal = false;
// Standard error was closed when the program started, or is the null device.
bool stderr_goes_nowhere = false;
bool stderr_was_closed = false;
bool refusal_told = false;
std::string previous_console_text;

bool console_to_utf8() { return locale.japanese && locale.utf8; }

// A notice's code page 932 bytes as this terminal shows them.
std::string notice_shown(const std::string& text) {
    return terminal_text(text.data(), text.size(), console_to_utf8());
}

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
void tell(const std::string& line) {
    std::fflush(stdout);
    write_notice_line(line.data(), line.size());
}

BOOL fail(DWORD error) {
    last_error = error;
    return FALSE;
}

HANDLE fail_open(DWORD error) {
    last_error = error;
    return INVALID_HANDLE_VALUE;
}

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

// Opening a drive read-write and sending it WRITE BUFFER both need more than a
// desktop user usually has; say so once, however many drives refuse.
void tell_refusal_once(const std::string& line) {
    if (refusal_told) return;
    refusal_told = true;
    tell(line);
}

void tell_refusal(const char* device) { tell_refusal_once(host_line(host_notice::access_refused, device, device)); }

// The kernel passes WRITE BUFFER only with CAP_SYS_RAWIO. True also when the
// capabilities cannot be read: the drive's own refusal then tells.
bool raw_io_allowed() {
    static const bool allowed = [] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (capget(&header, data) != 0) return true;
        return (data[CAP_SYS_RAWIO / 32].effective & (1u << (CAP_SYS_RAWIO % 32))) != 0;
    }();
    return allowed;
}

// Opens /dev/srN with `flags`, or hands out its kept descriptor; -1 with errno.
int open_device(open_handle& h, int flags) {
    kept_device& kept = kept_devices[h.device];
    if (kept.fd >= 0 && kept.flags == flags) {
        h.kept = true;
        return kept.fd;
    }
    const int fd = open_retrying(h.path, flags);
    if (fd >= 0 && kept.fd < 0 && (flags & O_PATH) == 0) {
        kept.fd = fd;
        kept.flags = flags;
        h.kept = true;
    }
    return fd;
}

void close_kept_devices() {
    for (kept_device& kept : kept_devices) {
        if (kept.fd >= 0) ::close(kept.fd);
        kept = kept_device{};
    }
}

// --- devices and files -----------------------------------------------------

HANDLE l_CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE) {
    if (name == nullptr) return fail_open(ERROR_INVALID_PARAMETER);
    if (disposition != OPEN_EXISTING) return fail_open(ERROR_NOT_SUPPORTED);
    open_handle* h = free_handle();
    if (h == nullptr) return fail_open(ERROR_NOT_ENOUGH_MEMORY);

    if (std::strncmp(name, "\\\\.\\", 4) == 0) {
        const std::string device = device_for_path(name);
        if (device.empty()) return fail_open(ERROR_FILE_NOT_FOUND);
        *h = open_handle{};
        h->device = std::atoi(device.c_str() + 7);
        std::snprintf(h->path, sizeof h->path, "%s", device.c_str());
        // Without the capability no drive can be updated: none is opened to be
        // asked about, and nothing reaches any. A path-only open finds out
        // whether the device is there without opening the drive.
        if ((access & GENERIC_WRITE) && !raw_io_allowed()) {
            const int there = open_retrying(h->path, O_PATH | O_CLOEXEC);
            if (there < 0) return fail_open(error_for_errno(errno));
            ::close(there);
            tell_refusal_once(host_line(host_notice::no_capability, h->path));
            return fail_open(ERROR_ACCESS_DENIED);
        }
        // A handle without access rights only carries media change requests,
        // which Linux has no use for: it asks nothing of the drive.
        int flags = O_CLOEXEC;
        if (access == 0) flags |= O_PATH;
        else flags |= O_NONBLOCK | ((access & GENERIC_WRITE) ? O_RDWR : O_RDONLY);  // no disc needed
        const int fd = open_device(*h, flags);
        if (fd < 0) {
            const int error = errno;
            if (error == EACCES || error == EPERM) tell_refusal(h->path);
            return fail_open(error_for_errno(error));
        }
        h->kind = access == 0 ? open_handle::drive_query : open_handle::drive;
        h->fd = fd;
        return h;
    }

    // Without O_NONBLOCK a FIFO holds the open until a writer comes; only a
    // regular file can be an image.
    const int fd =
        open_retrying(name, O_CLOEXEC | O_NOCTTY | O_NONBLOCK | ((access & GENERIC_WRITE) ? O_RDWR : O_RDONLY));
    if (fd < 0) return fail_open(error_for_errno(errno));
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return fail_open(ERROR_ACCESS_DENIED);
    }
    *h = open_handle{};
    h->kind = open_handle::file;
    h->fd = fd;
    return h;
}

BOOL pass_through(open_handle& h, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size, LPDWORD returned) {
    if (h.kind != open_handle::drive) return fail(ERROR_ACCESS_DENIED);
    if (in == nullptr || out == nullptr || in_size < sizeof(SCSI_PASS_THROUGH_DIRECT) ||
        out_size < sizeof(SCSI_PASS_THROUGH_DIRECT))
        return fail(ERROR_INVALID_PARAMETER);
    auto* block = static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
    if (in != out) std::memmove(out, in, sizeof(SCSI_PASS_THROUGH_DIRECT));

    sg_io_hdr_t request;
    uint8_t sense[SG_SENSE_CAPACITY];
    DWORD error = prepare_sg_io(*block, in_size, out_size, request, sense);
    if (error != ERROR_SUCCESS) return fail(error);
    int done;
    do done = ::ioctl(h.fd, SG_IO, &request);
    while (done < 0 && errno == EINTR);
    if (done < 0 && h.kept && (errno == ENODEV || errno == ENXIO)) {
        // The kept descriptor outlived its device (the drive was detached
        // and came back); the command never left, so it goes to the new one.
        kept_device& kept = kept_devices[h.device];
        const int flags = kept.flags;
        ::close(kept.fd);
        kept = kept_device{};
        h.kept = false;
        h.fd = open_device(h, flags);
        if (h.fd < 0) return fail(error_for_errno(errno));
        do done = ::ioctl(h.fd, SG_IO, &request);
        while (done < 0 && errno == EINTR);
    }
    if (done < 0) {
        const int e = errno;
        if (e == EACCES || e == EPERM) tell_refusal(h.path);
        return fail(error_for_errno(e));
    }
    error = finish_sg_io(request, *block, out_size);
    if (error != ERROR_SUCCESS) return fail(error);
    if (returned) *returned = sizeof(SCSI_PASS_THROUGH_DIRECT);
    return TRUE;
}

BOOL l_DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                       LPDWORD returned, LPOVERLAPPED) {
    open_handle* h = handle_of(handle);
    if (h == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (h->kind == open_handle::file) return fail(ERROR_INVALID_FUNCTION);
    switch (code) {
    case IOCTL_SCSI_GET_CAPABILITIES:
        // Nothing the updater sends is sized by these; they are an ATAPI port's.
        return answer_capabilities(out, out_size, returned) ? TRUE : fail(ERROR_INVALID_PARAMETER);
    case IOCTL_SCSI_GET_ADDRESS:
        // SG_IO reaches the drive by its descriptor; the address only has to
        // exist, since a drive without one is taken for an IEEE 1394 drive.
        return answer_address(static_cast<UCHAR>(h->device), out, out_size, returned) ? TRUE
                                                                                      : fail(ERROR_INVALID_PARAMETER);
    case IOCTL_SCSI_PASS_THROUGH_DIRECT: return pass_through(*h, in, in_size, out, out_size, returned);
    case IOCTL_STORAGE_MCN_CONTROL:
        // Linux has no per-handle switch for media change notification; the
        // kernel's own polling of the drive is what stops, where sysfs lets it.
        if (in == nullptr || in_size < sizeof(PREVENT_MEDIA_REMOVAL)) return fail(ERROR_INVALID_PARAMETER);
        if (static_cast<const PREVENT_MEDIA_REMOVAL*>(in)->PreventMediaRemoval) stop_media_polling(h->device);
        else restore_media_polling(h->device);
        if (returned) *returned = 0;
        return TRUE;
    default: return fail(ERROR_INVALID_FUNCTION);
    }
}

BOOL l_CloseHandle(HANDLE handle) {
    open_handle* h = handle_of(handle);
    if (h == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (!h->kept && h->fd >= 0) ::close(h->fd);
    *h = open_handle{};
    return TRUE;
}

DWORD l_GetLastError() { return last_error; }

DWORD l_GetFileSize(HANDLE file, LPDWORD size_high) {
    open_handle* h = handle_of(file);
    struct stat status;
    if (h == nullptr || h->kind != open_handle::file) {
        last_error = ERROR_INVALID_HANDLE;
        return INVALID_FILE_SIZE;
    }
    if (::fstat(h->fd, &status) != 0) {
        last_error = error_for_errno(errno);
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<uint64_t>(status.st_size);
    if (size_high) *size_high = static_cast<DWORD>(size >> 32);
    last_error = ERROR_SUCCESS;
    return static_cast<DWORD>(size);
}

BOOL l_ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED) {
    open_handle* h = handle_of(file);
    if (h == nullptr || h->kind != open_handle::file) return fail(ERROR_INVALID_HANDLE);
    DWORD total = 0;
    while (total < to_read) {
        const ssize_t n = ::read(h->fd, static_cast<char*>(buffer) + total, to_read - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (read) *read = total;
            return fail(error_for_errno(errno));
        }
        if (n == 0) break;
        total += static_cast<DWORD>(n);
    }
    if (read) *read = total;
    return TRUE;
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
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// --- the user and the clock ------------------------------------------------


int l_MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT style) {
    std::fflush(stdout);
    box_manner manner;
    manner.to_utf8 = console_to_utf8();
    manner.japanese = locale.japanese;
    manner.out_is_terminal = stderr_is_terminal;
    // The updater has just written an acknowledgement's text to the console.
    manner.text_shown = stdout_is_terminal && stderr_is_terminal;
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
    if (console_to_utf8() || stdout_is_terminal) {
        std::string shown = terminal_text(bytes, length, console_to_utf8());
        if (stdout_is_terminal) shown = without_control_bytes(shown, !locale.japanese);
        std::fwrite(shown.data(), 1, shown.size(), stdout);
    } else {
        std::fwrite(bytes, 1, length, stdout);
    }
    console_written(bytes, length);
    // Progress lines must show while the drive works; a line that repeats the
    // one before shows nothing new and goes out with the next one.
    if (previous_console_text.compare(0, std::string::npos, bytes, length) != 0) {
        previous_console_text.assign(bytes, length);
        std::fflush(stdout);
    }
}

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

int l_end_drive_update(int) { return end_update_window(); }

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

void l_machine_identity(char* name, size_t name_size, char* system, size_t system_size) {
    if (name_size > 0 && ::gethostname(name, name_size) != 0) name[0] = '\0';
    if (name_size > 0) name[name_size - 1] = '\0';
    if (system_size > 0) std::snprintf(system, system_size, "linux");
}

int l_append_to_file(const char* path, const char* bytes, size_t length) {
    const int fd = open_retrying(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) return -1;
    ssize_t written;
    do written = ::write(fd, bytes, length);
    while (written < 0 && errno == EINTR);
    ::close(fd);
    return written == static_cast<ssize_t>(length) ? 0 : -1;
}

// Which drive is which, for a technician with more than one.
void l_target_found(int number, const char* path) {
    const std::string device = device_for_path(path);
    if (device.empty()) return;
    tell(host_line(host_notice::target, number, std::toupper(static_cast<unsigned char>(path[4])), device.c_str()));
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
    return c;
}

constexpr host_calls linux_table = linux_calls();
static_assert(every_call_filled(linux_table), "a platform call left out of the table");

}  // namespace

void open_missing_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            ::open("/dev/null", O_RDWR);
            if (fd == STDERR_FILENO) stderr_was_closed = true;
        }
    }
}

static bool is_null_device(int fd) {
    struct stat status;
    struct stat null_device;
    return ::fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && ::stat("/dev/null", &null_device) == 0 &&
           status.st_rdev == null_device.st_rdev;
}

void install_linux_host() {
    open_missing_standard_descriptors();
    locate_sysfs();
    locale = locale_from(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
    stdout_is_terminal = ::isatty(STDOUT_FILENO) == 1;
    stderr_is_terminal = ::isatty(STDERR_FILENO) == 1;
    stdin_is_terminal = ::isatty(STDIN_FILENO) == 1;
    stderr_goes_nowhere = stderr_was_closed || is_null_device(STDERR_FILENO);
    locate_notice_output();
    static bool closing_registered = false;
    if (!closing_registered)
        closing_registered = std::atexit(close_kept_devices) == 0;
    guard_updates();
    install_host(&linux_table);
}
