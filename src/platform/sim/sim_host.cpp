// The simulated host's platform table: every call the updater makes, answered
// from the scenario's machine and recorded for the trace and for tests.
#include "platform/sim/sim_host.h"

#include "platform/pass_through_check.h"
#include "platform/last_record.h"
#include "platform/notice_line.h"
#include "platform/storage_queries.h"
#include "platform/sim/trace.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace sim {
namespace {

machine* active = nullptr;

const uintptr_t ASPI_MODULE = 0x7A5000;

bool equal_ignoring_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// --- devices and files -----------------------------------------------------

HANDLE sim_CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    machine& h = *active;
    std::string path = name ? name : "";
    if (path.rfind("\\\\.\\", 0) == 0) {
        int slot = h.slot_for_path(path);
        if (slot < 0) {
            h.last_error_ = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        drive_slot& d = h.drives[slot];
        if (d.open_fails || d.vanished) {
            h.last_error_ = d.vanished ? ERROR_FILE_NOT_FOUND : d.open_error;
            return INVALID_HANDLE_VALUE;
        }
        // Every open of the letter must reach the drive the run found there.
        if (access != 0 && d.found_attachment >= 0 && d.found_attachment != d.attachment) d.lost = true;
        if (access != 0 && d.lost) {
            h.last_error_ = ERROR_DEV_NOT_EXIST;
            return INVALID_HANDLE_VALUE;
        }
        if (access != 0 && d.found_attachment < 0) d.found_attachment = d.attachment;
        // The drive's claim is another's: a handle that asks nothing of it (media change requests) opens still.
        if (d.held_by_another && access != 0) {
            h.last_error_ = ERROR_SHARING_VIOLATION;
            return INVALID_HANDLE_VALUE;
        }
        machine::handle_info info{access == 0 ? machine::handle_info::notification : machine::handle_info::device};
        info.slot = slot;
        info.attachment = d.attachment;
        info.path = path;
        return h.new_handle(info);
    }
    if (auto memory = h.cfg.files.find(path); memory != h.cfg.files.end()) {
        machine::handle_info info{machine::handle_info::image_file};
        info.path = path;
        info.memory = &memory->second;
        return h.new_handle(info);
    }
    // A relative name is in the folder the utility runs in; a path from the root is as given.
    std::string full = h.cfg.directory.empty() || path.rfind('/', 0) == 0 ? path : h.cfg.directory + "/" + path;
    // As the real hosts: only a name with nothing behind it is not found; a
    // folder, a FIFO or a device is there but no file to read (and a FIFO
    // would hold the open).
    std::error_code error;
    const auto type = std::filesystem::status(full, error).type();
    if (type != std::filesystem::file_type::regular) {
        h.last_error_ = type == std::filesystem::file_type::not_found ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    std::FILE* f = std::fopen(full.c_str(), "rb");
    if (!f) {
        h.last_error_ = errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    machine::handle_info info{machine::handle_info::image_file};
    info.path = path;
    info.file = f;
    return h.new_handle(info);
}

BOOL fail_with(DWORD error) {
    active->last_error_ = error;
    return FALSE;
}

BOOL pass_through(machine& h, int slot, LPVOID in, DWORD in_size, DWORD out_size, LPDWORD returned) {
    auto* sptd = static_cast<SCSI_PASS_THROUGH_DIRECT*>(in);
    if (DWORD error = check_pass_through_block(sptd, in_size, out_size); error != ERROR_SUCCESS) return fail_with(error);

    int direction = emu::DIR_NONE;
    if (sptd->DataTransferLength != 0)
        direction = sptd->DataIn == SCSI_IOCTL_DATA_IN ? emu::DIR_IN
                    : sptd->DataIn == SCSI_IOCTL_DATA_OUT ? emu::DIR_OUT
                                                          : emu::DIR_NONE;
    uint32_t timeout_ms = sptd->TimeOutValue * 1000u;
    emu::command_result r = h.run_command(slot, sptd->Cdb, sptd->CdbLength, direction,
                                          static_cast<uint8_t*>(sptd->DataBuffer), sptd->DataTransferLength,
                                          timeout_ms, true);
    h.advance(r.duration_ms);
    if (const DWORD error = sim::pass_through_error(r); error != ERROR_SUCCESS) return fail_with(error);
    sptd->ScsiStatus = r.status;
    sptd->DataTransferLength = r.transferred;
    uint32_t sense = std::min<uint32_t>(sptd->SenseInfoLength, r.sense_length);
    if (sense) std::memcpy(static_cast<uint8_t*>(in) + sptd->SenseInfoOffset, r.sense, sense);
    sptd->SenseInfoLength = static_cast<UCHAR>(sense);
    if (returned) *returned = sizeof(SCSI_PASS_THROUGH_DIRECT);
    return TRUE;
}

BOOL sim_DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                         LPDWORD returned, LPOVERLAPPED) {
    machine& h = *active;
    machine::handle_info* info = h.find_handle(handle);
    if (!info || (info->kind != machine::handle_info::device && info->kind != machine::handle_info::notification))
        return fail_with(ERROR_INVALID_HANDLE);
    drive_slot& d = h.drives[info->slot];
    if (d.vanished) return fail_with(ERROR_FILE_NOT_FOUND);
    if (info->attachment != d.attachment) return fail_with(ERROR_DEV_NOT_EXIST);  // its drive was unplugged

    switch (code) {
    case IOCTL_SCSI_GET_CAPABILITIES:
        if (d.capabilities_error) return fail_with(d.capabilities_error);
        return answer_capabilities(out, out_size, returned) ? TRUE : fail_with(ERROR_INVALID_PARAMETER);
    case IOCTL_SCSI_GET_ADDRESS:
        if (d.address_error) return fail_with(d.address_error);
        return answer_address(static_cast<UCHAR>(1 + info->slot), out, out_size, returned)
                   ? TRUE
                   : fail_with(ERROR_INVALID_PARAMETER);
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        if (info->kind != machine::handle_info::device) return fail_with(ERROR_ACCESS_DENIED);
        if (in != out) return fail_with(ERROR_INVALID_PARAMETER);
        return pass_through(h, info->slot, in, in_size, out_size, returned);
    case IOCTL_STORAGE_MCN_CONTROL: {
        if (!in || in_size < sizeof(PREVENT_MEDIA_REMOVAL)) return fail_with(ERROR_INVALID_PARAMETER);
        notification_request request{info->path, handle, static_cast<const uint8_t*>(in)[0], false};
        // Windows refuses to turn notification back on for a handle that never turned it off.
        if (request.flag != 0) {
            info->notification_off = true;
            request.succeeded = true;
        } else if (info->notification_off) {
            info->notification_off = false;
            request.succeeded = true;
        }
        h.notifications.push_back(request);
        h.trace_line(trace_notification(h.now_ms(), info->path, request.flag));
        if (!request.succeeded) return fail_with(ERROR_INVALID_PARAMETER);
        if (returned) *returned = 0;
        return TRUE;
    }
    default: return fail_with(ERROR_INVALID_FUNCTION);
    }
}

BOOL sim_CloseHandle(HANDLE handle) {
    machine& h = *active;
    auto it = h.handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == h.handles_.end() || it->second.kind == machine::handle_info::key) return fail_with(ERROR_INVALID_HANDLE);
    if (it->second.file) std::fclose(it->second.file);
    h.handles_.erase(it);
    return TRUE;
}

DWORD sim_GetLastError() { return active->last_error_; }

DWORD sim_GetFileSize(HANDLE handle, LPDWORD size_high) {
    machine& h = *active;
    machine::handle_info* info = h.find_handle(handle);
    if (!info || info->kind != machine::handle_info::image_file) {
        h.last_error_ = ERROR_INVALID_HANDLE;
        return INVALID_FILE_SIZE;
    }
    if (h.cfg.file_size_fails) {
        h.last_error_ = ERROR_IO_DEVICE;
        return INVALID_FILE_SIZE;
    }
    long long size = 0;
    if (info->memory) {
        size = static_cast<long long>(info->memory->size());
    } else {
        long here = std::ftell(info->file);
        std::fseek(info->file, 0, SEEK_END);
        size = std::ftell(info->file);
        std::fseek(info->file, here, SEEK_SET);
    }
    if (size_high) *size_high = static_cast<DWORD>(static_cast<unsigned long long>(size) >> 32);
    h.last_error_ = ERROR_SUCCESS;
    return static_cast<DWORD>(size);
}

BOOL sim_ReadFile(HANDLE handle, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED) {
    machine& h = *active;
    machine::handle_info* info = h.find_handle(handle);
    if (read) *read = 0;
    if (!info || info->kind != machine::handle_info::image_file) return fail_with(ERROR_INVALID_HANDLE);
    DWORD wanted = to_read > h.cfg.file_read_shortfall ? to_read - h.cfg.file_read_shortfall : 0;
    size_t got = 0;
    if (info->memory) {
        got = std::min<size_t>(wanted, info->memory->size() - info->position);
        if (got) std::memcpy(buffer, info->memory->data() + info->position, got);
        info->position += got;
    } else if (wanted) {
        got = std::fread(buffer, 1, wanted, info->file);
    }
    if (read) *read = static_cast<DWORD>(got);
    return TRUE;
}

// --- system identity, registry, memory -------------------------------------

BOOL sim_GetVersionExA(OSVERSIONINFOA* info) {
    machine& h = *active;
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return fail_with(ERROR_INVALID_PARAMETER);
    info->dwMajorVersion = h.cfg.major_version;
    info->dwMinorVersion = h.cfg.minor_version;
    info->dwBuildNumber = h.cfg.build_number;
    info->dwPlatformId = h.cfg.platform_id;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return TRUE;
}

LONG sim_RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD, REGSAM, PHKEY result) {
    machine& h = *active;
    std::string name = sub_key ? sub_key : "";
    bool found = key == HKEY_LOCAL_MACHINE &&
                 std::any_of(h.cfg.registry_keys.begin(), h.cfg.registry_keys.end(),
                             [&](const std::string& k) { return equal_ignoring_case(k, name); });
    if (!found) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    machine::handle_info info{machine::handle_info::key};
    info.path = name;
    *result = static_cast<HKEY>(h.new_handle(info));
    h.opened_keys.push_back(name);
    ++h.open_keys_;
    return ERROR_SUCCESS;
}

LONG sim_RegCloseKey(HKEY key) {
    machine& h = *active;
    auto it = h.handles_.find(reinterpret_cast<uintptr_t>(key));
    if (it == h.handles_.end() || it->second.kind != machine::handle_info::key)
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    h.handles_.erase(it);
    --h.open_keys_;
    return ERROR_SUCCESS;
}

UINT sim_GetOEMCP() { return active->cfg.oem_code_page; }

// A letter holds an optical drive when a drive sits there that answers as one.
UINT sim_GetDriveTypeA(LPCSTR root) {
    const machine& h = *active;
    if (root == nullptr || std::strlen(root) < 2 || root[1] != ':') return DRIVE_NO_ROOT_DIR;
    const int slot = h.slot_for_path(std::string("\\\\.\\") + root[0] + ":");
    if (slot < 0 || h.drives[slot].vanished) return DRIVE_NO_ROOT_DIR;
    const uint8_t peripheral = h.drives[slot].drive->config().peripheral;
    return peripheral == 0x04 || peripheral == 0x05 ? DRIVE_CDROM : DRIVE_FIXED;
}

HGLOBAL sim_GlobalAlloc(UINT flags, SIZE_T bytes) {
    machine& h = *active;
    ++h.allocations_;
    if (h.allocations_ == h.cfg.fail_allocation) {
        h.last_error_ = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    // Memory that is not asked to be zeroed is not: a reader of it sees a pattern.
    std::vector<uint8_t> block(bytes ? bytes : 1, (flags & GMEM_ZEROINIT) ? 0x00 : 0xCD);
    uintptr_t id = h.next_handle_;
    h.next_handle_ += 4;
    h.blocks_[id] = std::move(block);
    return reinterpret_cast<HGLOBAL>(id);
}

LPVOID sim_GlobalLock(HGLOBAL memory) {
    auto it = active->blocks_.find(reinterpret_cast<uintptr_t>(memory));
    return it == active->blocks_.end() ? nullptr : it->second.data();
}

BOOL sim_GlobalUnlock(HGLOBAL memory) {
    if (!active->blocks_.count(reinterpret_cast<uintptr_t>(memory))) return fail_with(ERROR_INVALID_HANDLE);
    active->last_error_ = ERROR_SUCCESS;
    return FALSE;  // the lock count reached zero
}

HGLOBAL sim_GlobalFree(HGLOBAL memory) {
    auto it = active->blocks_.find(reinterpret_cast<uintptr_t>(memory));
    if (it == active->blocks_.end()) return memory;
    active->blocks_.erase(it);
    return nullptr;
}

// --- the ASPI manager -------------------------------------------------------

DWORD __cdecl sim_GetASPI32SupportInfo() { return active->aspi_.support_info(); }

DWORD __cdecl sim_SendASPI32Command(void* request) { return active->aspi_.send(request); }

HMODULE sim_LoadLibraryA(LPCSTR name) {
    machine& h = *active;
    if (name && h.cfg.aspi_present && equal_ignoring_case(name, "WNASPI32.DLL"))
        return reinterpret_cast<HMODULE>(ASPI_MODULE);
    h.last_error_ = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

FARPROC sim_GetProcAddress(HMODULE module, LPCSTR name_or_ordinal) {
    if (reinterpret_cast<uintptr_t>(module) != ASPI_MODULE) return nullptr;
    switch (reinterpret_cast<uintptr_t>(name_or_ordinal)) {
    case ASPI_ORDINAL_SUPPORT_INFO: return reinterpret_cast<FARPROC>(&sim_GetASPI32SupportInfo);
    case ASPI_ORDINAL_SEND_COMMAND: return reinterpret_cast<FARPROC>(&sim_SendASPI32Command);
    default: return nullptr;
    }
}

HANDLE sim_CreateEventA(LPSECURITY_ATTRIBUTES, BOOL, BOOL initial_state, LPCSTR) {
    machine::handle_info info{machine::handle_info::event};
    info.signalled = initial_state != FALSE;
    return active->new_handle(info);
}

DWORD sim_WaitForSingleObject(HANDLE handle, DWORD ms) {
    machine& h = *active;
    machine::handle_info* info = h.find_handle(handle);
    if (!info || info->kind != machine::handle_info::event) {
        h.last_error_ = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    if (!info->signalled) {
        uint64_t ends_at = 0;
        if (h.aspi_.end_of(handle, ends_at) && (ms == INFINITE || ends_at <= h.elapsed_ms + ms)) {
            h.advance(static_cast<uint32_t>(ends_at - h.elapsed_ms));
        } else if (ms == INFINITE) {
            // Nothing will ever signal this event: a real machine would hang here.
            h.hung = true;
            h.trace_line(trace_hang(h.now_ms()));
            return WAIT_FAILED;
        } else {
            h.advance(ms);
        }
        info = h.find_handle(handle);
    }
    if (info && info->signalled) {
        info->signalled = false;  // auto-reset
        return WAIT_OBJECT_0;
    }
    return WAIT_TIMEOUT;
}

void sim_Sleep(DWORD ms) {
    machine& h = *active;
    h.sleeps.push_back(ms);
    h.trace_line(trace_delay(h.now_ms(), "sleep", ms));
    h.advance(ms);
}

// --- the user and the clock -------------------------------------------------

// The record file as a real host leaves it when an interrupt ends the run now.
std::string record_ended_here(machine& h) {
    static last_record record;
    record.prepare(h.last_record_path.c_str(), h.last_record_line.c_str());
    std::string file = h.standard_output_record;
    if (h.last_record_path != "-") {
        std::ifstream in(h.last_record_path, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return file + std::string(record.text, record.render(130));
}

void note_record_ended_here(machine& h) { h.records_ended_at_questions.push_back(record_ended_here(h)); }

// A way out taken right after a step on the record, where the run lets one be taken.
void note_step_on_the_record(machine& h) {
    if (h.ways_out_held == 0 && !h.last_record_path.empty())
        h.records_ended_between_steps.push_back(record_ended_here(h));
}

int sim_MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT style) {
    machine& h = *active;
    box_record box{caption ? caption : "", text ? text : "", style, 0};
    if (h.next_answer_ < h.cfg.answers.size()) box.answer = h.cfg.answers[h.next_answer_++];
    if ((style & 0x0F) == MB_YESNO && !h.last_record_path.empty()) note_record_ended_here(h);
    h.boxes.push_back(box);
    h.trace_line(trace_box(h.now_ms(), box.caption, style, box.text, box.answer));
    if (h.box_echo) {
        *h.box_echo << "\n[box \"" << box.caption << "\" style 0x" << std::hex << style << std::dec << "]" << box.text
                    << "\n[answer " << box.answer << "]\n";
        h.box_echo->flush();
    }
    return box.answer;
}

void sim_write_console(const char* bytes, size_t length) {
    machine& h = *active;
    h.console.append(bytes, length);
    h.trace_line(trace_console(h.now_ms(), bytes, length));
    if (std::ostream* echo = h.record_on_standard_output ? h.box_echo : h.console_echo) {
        echo->write(bytes, static_cast<std::streamsize>(length));
        echo->flush();
    }
}

MMRESULT sim_timeBeginPeriod(UINT period) {
    machine& h = *active;
    if (h.cfg.finest_timer_period == 0 || period < h.cfg.finest_timer_period) return TIMERR_NOCANDO;
    h.timer_periods.push_back(period);
    h.period_stack_.push_back(period);
    ++h.open_periods_;
    h.bracket_read_ = false;
    return TIMERR_NOERROR;
}

DWORD sim_timeGetTime() {
    machine& h = *active;
    DWORD value = h.now_ms();
    if (!h.period_stack_.empty()) {
        if (!h.bracket_read_) h.bracket_first_read_ = value;
        h.bracket_read_ = true;
        h.bracket_last_read_ = value;
    }
    h.advance(1);
    return value;
}

MMRESULT sim_timeEndPeriod(UINT period) {
    machine& h = *active;
    if (h.period_stack_.empty() || h.period_stack_.back() != period) return TIMERR_NOCANDO;
    h.period_stack_.pop_back();
    --h.open_periods_;
    uint32_t length = h.bracket_read_ ? h.bracket_last_read_ - h.bracket_first_read_ : 0;
    h.waits.push_back(length);
    h.trace_line(trace_delay(h.now_ms(), "wait", length));
    return TIMERR_NOERROR;
}

// --- the drive update window ------------------------------------------------

void sim_begin_drive_update(const char* device) {
    machine& h = *active;
    update_window window;
    window.device = device ? device : "";
    window.commands_at_begin = h.commands_run;
    window.interrupted = static_cast<int>(h.update_windows.size()) + 1 == h.cfg.interrupt_in_update;
    h.update_windows.push_back(window);
    h.trace_line(trace_update_begin(h.now_ms(), window.device));
}

int sim_end_drive_update() {
    machine& h = *active;
    if (h.update_windows.empty() || h.update_windows.back().left_in_update_firmware != -1) return 0;
    update_window& window = h.update_windows.back();
    // The drive whose state was told last is the one the window was opened for.
    const int left_in_update_firmware = h.firmware_states[h.last_state_told];
    window.commands_at_end = h.commands_run;
    window.left_in_update_firmware = left_in_update_firmware;
    h.trace_line(trace_update_end(h.now_ms(), left_in_update_firmware, window.interrupted));
    return window.interrupted ? 1 : 0;
}

void sim_target_found(int number, const char* device) {
    machine& h = *active;
    h.targets_found.push_back(device ? device : "");
    h.trace_line(trace_target(h.now_ms(), number, h.targets_found.back()));
}

void sim_drive_firmware_state(int number, const char* device, int in_update_firmware, const char* notice) {
    machine& h = *active;
    h.firmware_states[number] = in_update_firmware;
    h.last_state_told = number;
    // The drive is named by its device path, or by its number when it has none (ASPI).
    const std::string name = device && *device ? std::string(device) : "No." + std::to_string(number);
    h.firmware_notices[number] = format_notice(notice ? notice : "", name);
}

void sim_write_notice(const char* text) {
    machine& h = *active;
    h.notices.push_back(text ? text : "");
    if (h.box_echo) {
        *h.box_echo << "\n" << h.notices.back();
        h.box_echo->flush();
    }
}

// The simulated machine is a Windows one: a letter is the device's name,
// unless the scenario gives the drive one (a recorded Linux machine's).
void sim_device_name(const char* device, char* name, size_t size) {
    if (size == 0) return;
    name[0] = '\0';
    const int slot = active->slot_for_path(device ? device : "");
    if (slot >= 0) std::snprintf(name, size, "%s", active->drives[static_cast<size_t>(slot)].device_name.c_str());
}

void sim_machine_identity(char* name, size_t name_size, char* system, size_t system_size) {
    if (name_size > 0) std::snprintf(name, name_size, "simulated");
    if (system_size > 0) std::snprintf(system, system_size, "simulated");
}

// A real file, as a real host writes it: beside it first, then renamed.
int sim_write_file_whole(const char* path, const char* bytes, size_t length) {
    const std::string part = std::string(path) + ".part";
    std::FILE* file = std::fopen(part.c_str(), "wb");
    if (file == nullptr) return -1;
    const bool written = std::fwrite(bytes, 1, length, file) == length;
    if (std::fclose(file) == 0 && written && std::rename(part.c_str(), path) == 0) return 0;
    std::remove(part.c_str());
    return -1;
}

// Appends to a real file: the record of a simulated run is read like any
// other, and starts on a line of its own as a real host's does. "-" is the
// simulated standard output, echoed where the console's text went before.
int sim_append_to_file(const char* path, const char* bytes, size_t length) {
    machine& h = *active;
    if (std::strcmp(path, "-") == 0) {
        h.standard_output_record.append(bytes, length);
        if (h.console_echo) h.console_echo->write(bytes, static_cast<std::streamsize>(length)).flush();
        note_step_on_the_record(h);
        return 0;
    }
    const bool kept = !h.kept_record_path.empty() && h.kept_record_path == path;
    std::FILE* file = kept ? h.kept_record.get() : std::fopen(path, "a+b");
    if (file == nullptr) return -1;
    bool inside_a_line = false;
    if (std::fseek(file, -1, SEEK_END) == 0) inside_a_line = std::fgetc(file) != '\n';
    std::fseek(file, 0, SEEK_END);
    const bool written = (!inside_a_line || std::fputc('\n', file) != EOF) && std::fwrite(bytes, 1, length, file) == length;
    const int result = (kept ? std::fflush(file) : std::fclose(file)) == 0 && written ? 0 : -1;
    note_step_on_the_record(h);
    return result;
}

int sim_keep_record_open(const char* path) {
    machine& h = *active;
    if (std::strcmp(path, "-") == 0) return 0;
    h.kept_record_path = path;
    h.kept_record.reset(std::fopen(path, "a+b"), [](std::FILE* file) {
        if (file) std::fclose(file);
    });
    std::error_code error;
    h.kept_record_file = std::filesystem::canonical(path, error);
    return h.kept_record ? 0 : -1;
}

// Another run on the simulated machine is the scenario's to say.
int sim_claim_machine(int reads_only) {
    active->claimed_to_read_only = reads_only != 0;
    return active->cfg.another_run ? 1 : 0;
}

// A name reaches a file as given (a record) or in the folder the utility runs
// in (an image); two names are one file when any of those ways meet.
bool sim_same_file(const char* a, const char* b) {
    namespace fs = std::filesystem;
    if (a == nullptr || b == nullptr) return false;
    const std::string& folder = active->cfg.directory;
    const auto ways = [&folder](const char* name) {
        std::vector<fs::path> paths{name};
        if (!folder.empty() && name[0] != '/') paths.push_back(fs::path(folder) / name);
        return paths;
    };
    // The kept record is judged by the file it led to when it was opened.
    if (!active->kept_record_path.empty() && active->kept_record_path == a) {
        if (!active->kept_record) return false;
        for (const fs::path& y : ways(b)) {
            std::error_code error;
            if (fs::equivalent(active->kept_record_file, y, error)) return true;
        }
        return false;
    }
    for (const fs::path& x : ways(a))
        for (const fs::path& y : ways(b)) {
            std::error_code error;
            if (fs::equivalent(x, y, error)) return true;
        }
    return false;
}

void sim_record_on_standard_output() { active->record_on_standard_output = true; }

void sim_prepare_last_record(const char* path, const char* line) {
    machine& h = *active;
    h.last_record_path = path ? path : "";
    h.last_record_line = line ? line : "";
    note_step_on_the_record(h);
}

void sim_hold_ways_out(int hold) {
    machine& h = *active;
    h.ways_out_held += hold ? 1 : -1;
    if (h.ways_out_held == 0) note_step_on_the_record(h);
}

int sim_final_exit_code(int exit_code, int) { return exit_code; }

bool sim_console_is_a_screen() { return !active->cfg.console_redirected; }

// The simulator's routes, like Windows', give no adapter status.
void sim_adapter_status(uint16_t* host_status, uint16_t* driver_status) { *host_status = *driver_status = 0; }

void sim_system_error_text(char* text, size_t size) {
    const DWORD error = active->last_error_;
    if (size == 0) return;
    text[0] = '\0';
    if (error != ERROR_SUCCESS) std::snprintf(text, size, "Windows error %lu", static_cast<unsigned long>(error));
}

// The serial number the scenario gives the drive, as a system holds it.
void sim_drive_serial(const char* device, char* serial, size_t size) {
    if (size == 0) return;
    serial[0] = '\0';
    const int slot = active->slot_for_path(device ? device : "");
    if (slot >= 0) std::snprintf(serial, size, "%s", active->drives[static_cast<size_t>(slot)].serial.c_str());
}

constexpr host_calls sim_calls() {
    host_calls c{};
    c.CreateFileA = sim_CreateFileA;
    c.DeviceIoControl = sim_DeviceIoControl;
    c.CloseHandle = sim_CloseHandle;
    c.GetLastError = sim_GetLastError;
    c.GetFileSize = sim_GetFileSize;
    c.ReadFile = sim_ReadFile;
    c.GetVersionExA = sim_GetVersionExA;
    c.RegOpenKeyExA = sim_RegOpenKeyExA;
    c.RegCloseKey = sim_RegCloseKey;
    c.GetOEMCP = sim_GetOEMCP;
    c.GetDriveTypeA = sim_GetDriveTypeA;
    c.GlobalAlloc = sim_GlobalAlloc;
    c.GlobalLock = sim_GlobalLock;
    c.GlobalUnlock = sim_GlobalUnlock;
    c.GlobalFree = sim_GlobalFree;
    c.LoadLibraryA = sim_LoadLibraryA;
    c.GetProcAddress = sim_GetProcAddress;
    c.CreateEventA = sim_CreateEventA;
    c.WaitForSingleObject = sim_WaitForSingleObject;
    c.Sleep = sim_Sleep;
    c.MessageBoxA = sim_MessageBoxA;
    c.write_console = sim_write_console;
    c.timeBeginPeriod = sim_timeBeginPeriod;
    c.timeGetTime = sim_timeGetTime;
    c.timeEndPeriod = sim_timeEndPeriod;
    c.begin_drive_update = sim_begin_drive_update;
    c.end_drive_update = sim_end_drive_update;
    c.target_found = sim_target_found;
    c.drive_firmware_state = sim_drive_firmware_state;
    c.write_notice = sim_write_notice;
    c.device_name = sim_device_name;
    c.machine_identity = sim_machine_identity;
    c.append_to_file = sim_append_to_file;
    c.write_file_whole = sim_write_file_whole;
    c.keep_record_open = sim_keep_record_open;
    c.record_on_standard_output = sim_record_on_standard_output;
    c.claim_machine = sim_claim_machine;
    c.same_file = sim_same_file;
    c.prepare_last_record = sim_prepare_last_record;
    c.hold_ways_out = sim_hold_ways_out;
    c.final_exit_code = sim_final_exit_code;
    c.console_is_a_screen = sim_console_is_a_screen;
    c.drive_serial = sim_drive_serial;
    c.system_error_text = sim_system_error_text;
    c.adapter_status = sim_adapter_status;
    return c;
}

constexpr host_calls sim_table = sim_calls();
static_assert(every_call_filled(sim_table), "a platform call left out of the table");

}  // namespace

machine::machine() = default;

machine::~machine() {
    for (auto& [id, info] : handles_)
        if (info.file) std::fclose(info.file);
    if (active == this) {
        active = nullptr;
        install_host(nullptr);
    }
}

machine* current() { return active; }

std::vector<std::string> machine::left_drive_notices() const {
    std::vector<std::string> lines;
    for (const auto& [number, state] : firmware_states)
        if (state != 0) lines.push_back(firmware_notices.at(number));
    return lines;
}

void machine::install() {
    active = this;
    install_host(&sim_table);
}

drive_slot& machine::add_drive_at_letter(char letter, const emu::drive_config& drive) {
    drive_slot slot;
    slot.letter = letter;
    slot.name = std::string(1, letter) + ":";
    slot.drive = std::make_shared<emu::virtual_drive>(drive);
    drives.push_back(slot);
    return drives.back();
}

drive_slot& machine::add_drive_at_address(int adapter, int target, const emu::drive_config& drive) {
    drive_slot slot;
    slot.adapter = adapter;
    slot.target = target;
    slot.name = std::to_string(adapter) + ":" + std::to_string(target);
    slot.drive = std::make_shared<emu::virtual_drive>(drive);
    drives.push_back(slot);
    return drives.back();
}

int machine::open_handles() const {
    return static_cast<int>(std::count_if(handles_.begin(), handles_.end(), [](const auto& entry) {
        return entry.second.kind != handle_info::event && entry.second.kind != handle_info::key;
    }));
}

int machine::open_events() const {
    return static_cast<int>(std::count_if(handles_.begin(), handles_.end(),
                                          [](const auto& entry) { return entry.second.kind == handle_info::event; }));
}

void machine::trace_line(const std::string& json) {
    if (trace_) *trace_ << json << '\n';
}

HANDLE machine::new_handle(handle_info info) {
    uintptr_t id = next_handle_;
    next_handle_ += 4;
    handles_.emplace(id, std::move(info));
    return reinterpret_cast<HANDLE>(id);
}

machine::handle_info* machine::find_handle(HANDLE h) {
    auto it = handles_.find(reinterpret_cast<uintptr_t>(h));
    return it == handles_.end() ? nullptr : &it->second;
}

int machine::slot_for_path(const std::string& path) const {
    // "\\.\X:" names the drive with letter X.
    if (path.size() != 6 || path[5] != ':') return -1;
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
    for (size_t i = 0; i < drives.size(); ++i)
        if (drives[i].letter != 0 && std::toupper(static_cast<unsigned char>(drives[i].letter)) == letter)
            return static_cast<int>(i);
    return -1;
}

int machine::slot_for_address(int adapter, int target) const {
    for (size_t i = 0; i < drives.size(); ++i)
        if (drives[i].adapter == adapter && drives[i].target == target) return static_cast<int>(i);
    return -1;
}

DWORD pass_through_error(const emu::command_result& r) {
    if (r.refused) return ERROR_ACCESS_DENIED;
    if (r.transport_failure) return ERROR_IO_DEVICE;
    if (r.timed_out) return ERROR_SEM_TIMEOUT;
    return ERROR_SUCCESS;
}

emu::command_result machine::run_command(int slot, const uint8_t* cdb, size_t cdb_length, int direction, uint8_t* data,
                                      uint32_t data_length, uint32_t timeout_ms, bool pass_through_call) {
    drive_slot& d = drives[slot];
    emu::command_result r;
    ++commands_run;
    if (d.vanished) {
        r.transport_failure = true;
    } else {
        r = d.serving().execute(cdb, cdb_length, direction, data, data_length, timeout_ms, elapsed_ms);
        if (d.vanishes_after_command) d.vanished = true;
        if (d.replaced_after_command != 0 && ++d.commands == d.replaced_after_command) ++d.attachment;
    }
    trace_line(trace_command(now_ms(), d.name, cdb, cdb_length, direction, data_length, timeout_ms, r,
                             pass_through_call ? pass_through_error(r) : ERROR_SUCCESS));
    return r;
}

void machine::advance(uint32_t ms) {
    elapsed_ms += ms;
    aspi_.end_due_requests();
}

emu::aspi_settings aspi_settings_of(const config& cfg) {
    return {cfg.aspi_status, cfg.aspi_adapter_count, &cfg.adapters, cfg.aspi_manager_timeout_ms, cfg.aspi_abort_ms};
}

void machine::signal(void* event) {
    if (handle_info* e = find_handle(event)) e->signalled = true;
}

}  // namespace sim
