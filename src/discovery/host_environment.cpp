// Learns the host: which Windows family the run is on (and so which route
// reaches the drives), the Intel IDE driver and IEEE 1394 adapter the later
// steps work around, all told to the transport as its route. Owns the
// buffers of the whole run and the media change notification control of the
// drives met, taken at detection and enumeration and given back at release.
#include "discovery/host_environment.h"

#include <cstring>

#include "messages/messages.h"
#include "transport/aspi_adapters.h"
#include "transport/drive_commands.h"
#include "transport/transport.h"

working_buffer drive_data_buffer;
notification_entry notification_table[MAX_NOTIFICATION_ENTRIES];
int notification_count = 0;

namespace {

// The list the host was last learned with, until it is released.
const run_buffers* buffers_taken = nullptr;

// Minor versions of Windows 95, 98 and Me; any other minor of that platform
// takes the pass-through route.
constexpr DWORD WINDOWS_9X_MINORS[] = {0, 10, 90};

const char* const APPLICATION_ACCELERATOR_KEY = "SOFTWARE\\INTEL\\Intel Application Accelerator";
const char* const ULTRA_ATA_DRIVER_KEY = "SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver";

// The identifiers an IEEE 1394 adapter is known to answer with, the last one
// being an inquiry that left the field empty.
const uint8_t IEEE1394_IDENTIFIERS[][ADAPTER_IDENTIFIER_COMPARED] = {
    {'N', 'T', 'M', 'A', 'P', 'H', 'L', 'P'},
    {'n', 't', 'm', 'a', 'p', 'h', 'l', 'p'},
    {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '},
    {0, 0, 0, 0, 0, 0, 0, 0},
};

constexpr BOOLEAN NOTIFICATION_OFF = 1;
constexpr BOOLEAN NOTIFICATION_ON = 0;

int send_notification_request(HANDLE handle, BOOLEAN flag) {
    PREVENT_MEDIA_REMOVAL request{flag};
    DWORD returned = 0;
    BOOL done = host::DeviceIoControl(handle, IOCTL_STORAGE_MCN_CONTROL, &request, sizeof request, nullptr, 0,
                                      &returned, nullptr);
    return done ? 0 : -1;
}

bool windows_9x(const OSVERSIONINFOA& version) {
    if (version.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS) return false;
    for (DWORD minor : WINDOWS_9X_MINORS)
        if (version.dwMinorVersion == minor) return true;
    return false;
}


bool ieee1394_identifier(const uint8_t* identifier) {
    for (const uint8_t* known : IEEE1394_IDENTIFIERS)
        if (std::memcmp(identifier, known, ADAPTER_IDENTIFIER_COMPARED) == 0) return true;
    return false;
}

}  // namespace

const char* const INTEL_DRIVER_KEYS[2] = {APPLICATION_ACCELERATOR_KEY, ULTRA_ATA_DRIVER_KEY};

// True when HKEY_LOCAL_MACHINE holds `sub_key`; the key is closed again at once.
bool registry_key_present(const char* sub_key) {
    HKEY key = nullptr;
    if (host::RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub_key, 0, KEY_READ, &key) != static_cast<LONG>(ERROR_SUCCESS))
        return false;
    host::RegCloseKey(key);
    return true;
}

void detect_host_environment(const run_buffers& buffers) {
    command_timeout_ms = DEFAULT_COMMAND_TIMEOUT_MS;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    win9x_family = host::GetVersionExA(&version) && windows_9x(version) ? 1 : 0;
    // A failure of either (a missing buffer, no manager, no adapter) leaves
    // enumeration nothing to find, and the run ends as one without targets.
    if (win9x_family) {
        start_aspi_route(buffers);
    } else {
        init_nt_host(buffers);
    }
}

// Returns 0, or -1 at the first buffer that cannot be allocated; buffers taken
// before it stay recorded for release_host_environment.
int init_nt_host(const run_buffers& buffers) {
    command_timeout_ms = DEFAULT_COMMAND_TIMEOUT_MS;
    intel_ide_driver = 0;
    scsi_address.PathId = 0;
    scsi_address.TargetId = 0;
    scsi_address.Lun = 0;

    // The accelerator is announced but needs none of the IDE driver's work-arounds.
    if (registry_key_present(APPLICATION_ACCELERATOR_KEY)) show_message(MSG_INTEL_IDE_DRIVER, KIND_CONSOLE);
    if (registry_key_present(ULTRA_ATA_DRIVER_KEY)) {
        intel_ide_driver = 1;
        show_message(MSG_INTEL_IDE_DRIVER, KIND_CONSOLE);
    }

    hold_working_buffers(buffers);
    for (int i = 0; i < buffers.nt_count; ++i)
        if (allocate_working_buffer(*buffers.nt_buffers[i], buffers.nt_sizes[i]) != 0) return -1;
    return 0;
}

void classify_aspi_adapters() {
    for (int adapter = 0; adapter < adapter_count; ++adapter) {
        if (!adapter_answered[adapter]) continue;
        const uint8_t* identifier = adapter_identifiers[adapter];
        if (std::memcmp(identifier, INTEL_ATA_IDENTIFIER, ADAPTER_IDENTIFIER_COMPARED) == 0) {
            if (intel_ide_driver == 0) show_message(MSG_INTEL_IDE_DRIVER, KIND_CONSOLE);
            intel_ide_driver = 1;
        } else if (ieee1394_identifier(identifier)) {
            ieee1394_adapter = adapter;
            show_message(MSG_IEEE1394_INTERFACE, KIND_CONSOLE);
        }
    }
}

int start_aspi_route(const run_buffers& buffers) {
    hold_working_buffers(buffers);
    const int result = aspi_initialize(buffers.aspi_blocks, buffers.aspi_count);
    if (result == 0) classify_aspi_adapters();
    return result;
}

int release_host_environment() {
    const run_buffers none{};
    const run_buffers& buffers = buffers_taken ? *buffers_taken : none;
    if (win9x_family) return aspi_release(buffers.aspi_blocks, buffers.aspi_count);
    release_notification_control();
    for (int i = buffers.nt_count - 1; i >= 0; --i) free_working_buffer(*buffers.nt_buffers[i]);
    return 0;
}

void hold_working_buffers(const run_buffers& buffers) { buffers_taken = &buffers; }

bool working_buffers_ready() {
    if (buffers_taken == nullptr) return false;
    working_buffer* const* list = win9x_family ? buffers_taken->aspi_blocks : buffers_taken->nt_buffers;
    const int count = win9x_family ? buffers_taken->aspi_count : buffers_taken->nt_count;
    for (int i = 0; i < count; ++i)
        if (list[i]->address == nullptr) return false;
    return true;
}

// Opens the letter's device without access rights, records it in the next
// entry of the notification table and turns media change notification off
// on it. Returns 0, or -1 when the request was refused; a device that cannot
// be opened keeps the invalid handle in its entry and returns 0.
int take_notification_control(char letter) {
    if (win9x_family || notification_count >= MAX_NOTIFICATION_ENTRIES) return 0;
    notification_entry& entry = notification_table[notification_count++];
    entry.letter = letter;
    entry.handle = host::CreateFileA(drive_device_path(letter).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (entry.handle == INVALID_HANDLE_VALUE) return 0;
    return send_notification_request(entry.handle, NOTIFICATION_OFF);
}

// Turns notification back on for every handle of the table, closes the
// handles and empties the table.
void release_notification_control() {
    for (int i = 0; i < notification_count; ++i) {
        notification_entry& entry = notification_table[i];
        if (entry.handle == INVALID_HANDLE_VALUE) continue;
        send_notification_request(entry.handle, NOTIFICATION_ON);
        host::CloseHandle(entry.handle);
        entry.handle = INVALID_HANDLE_VALUE;
    }
    notification_count = 0;
}

void reset_host_environment_state() {
    drive_data_buffer = {};
    buffers_taken = nullptr;
    std::memset(notification_table, 0, sizeof notification_table);
    notification_count = 0;
}
