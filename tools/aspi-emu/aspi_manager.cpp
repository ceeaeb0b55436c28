// WNASPI32.DLL for tests: an ASPI for Win32 manager whose host adapters and
// drives are emulated, described by the scenario file named in the
// environment variable ODD_ASPI_SCENARIO ("aspi" and "drives"; "images" are
// written into the folder the process runs in, where the updater reads them).
// Host adapter inquiries complete within the call. Execute requests are
// accepted as pending and completed by a worker thread after the drive's own
// time in real milliseconds, as a real manager completes them from its
// interrupt path: sense, host and target status first, the status byte last,
// then the request's event when it asked for one. What the drives hold goes to
// the folder named in ODD_ASPI_REPORT after every command.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "platform/aspi.h"
#include "tools/aspi-emu/drive_report.h"
#include "tools/sim/scenario.h"

namespace {

constexpr BYTE SS_INVALID_SRB = 0xE0;
constexpr BYTE HOST_STATUS_SELECTION_TIMEOUT = 0x11;

struct pending_request {
    SRB_ExecSCSICmd* block;
    sim::drive_slot* slot;
};

struct manager_state {
    sim::host machine;  // the scenario's adapters and drives; its platform table is never installed
    bool ready = false;
    std::string report_folder;
    LARGE_INTEGER clock_start{};
    LARGE_INTEGER clock_rate{};

    // The caller's thread queues and aborts, the worker runs and completes.
    CRITICAL_SECTION lock;
    std::deque<pending_request> queue;
    SRB_ExecSCSICmd* running = nullptr;
    bool running_aborted = false;
    HANDLE work_ready = nullptr;    // auto-reset: the queue grew
    HANDLE abort_signal = nullptr;  // auto-reset: the running request was withdrawn
    HANDLE worker = nullptr;
};

manager_state* manager = nullptr;

// Milliseconds since the manager was loaded: the drives' clock, so a re-flash
// keeps a drive not ready for its real length.
uint64_t now_ms() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>((now.QuadPart - manager->clock_start.QuadPart) * 1000 / manager->clock_rate.QuadPart);
}

std::string environment(const char* name) {
    char value[MAX_PATH * 2];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string folder_of(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void load_machine() {
    const std::string path = environment("ODD_ASPI_SCENARIO");
    if (path.empty()) throw std::runtime_error("ODD_ASPI_SCENARIO is not set");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    sim::load_scenario(manager->machine, text.str(), folder_of(path), ".");
}

void report(bool with_images) {
    if (!manager->report_folder.empty())
        aspi_emu::write_drive_report(manager->report_folder, manager->machine.drives, with_images);
}

// Called with the lock held. The block belongs to the caller again as soon as
// its status byte leaves SS_PENDING, so the event is taken from it before.
void finish(SRB_ExecSCSICmd* block, BYTE status) {
    HANDLE event = (block->SRB_Flags & SRB_EVENT_NOTIFY) ? static_cast<HANDLE>(block->SRB_PostProc) : nullptr;
    MemoryBarrier();
    *reinterpret_cast<volatile BYTE*>(&block->SRB_Status) = status;
    if (event) SetEvent(event);
}

void complete(SRB_ExecSCSICmd* block, const emu::command_result& r) {
    // A command the drive never answered, or that never reached it, ends with the adapter's selection time-out.
    block->SRB_HaStat = r.timed_out || r.transport_failure ? HOST_STATUS_SELECTION_TIMEOUT : 0;
    block->SRB_TargStat = r.status;
    if (r.sense_length && block->SRB_SenseLen)
        std::memcpy(block->SenseArea, r.sense,
                    std::min<size_t>({r.sense_length, block->SRB_SenseLen, sizeof block->SenseArea}));
    const bool good = !r.transport_failure && !r.timed_out && r.status == emu::STATUS_GOOD;
    finish(block, good ? SS_COMP : SS_ERR);
}

// `asked` is the request as it stood when it was taken from the queue: once an
// abort has handed the block back, the caller may already be refilling it.
void run(const pending_request& request, const SRB_ExecSCSICmd& asked) {
    SRB_ExecSCSICmd* block = request.block;
    emu::virtual_drive& drive = *request.slot->drive;
    const int direction = asked.SRB_BufLen == 0              ? emu::DIR_NONE
                          : (asked.SRB_Flags & SRB_DIR_IN)  ? emu::DIR_IN
                          : (asked.SRB_Flags & SRB_DIR_OUT) ? emu::DIR_OUT
                                                            : emu::DIR_NONE;
    const uint32_t reflashes = drive.reflash_count();
    const emu::command_result r = drive.execute(asked.CDBByte, asked.SRB_CDBLen, direction, asked.SRB_BufPointer,
                                                asked.SRB_BufLen, 0, now_ms());
    // The report is written before the caller can see the request end, so a
    // program that exits right after its last command leaves it complete.
    report(drive.reflash_count() != reflashes);

    uint32_t duration = r.duration_ms + 1;
    if (r.timed_out || r.transport_failure)
        duration = std::min<uint32_t>(r.timed_out ? r.duration_ms : 1, manager->machine.cfg.aspi_manager_timeout_ms);
    WaitForSingleObject(manager->abort_signal, duration);

    EnterCriticalSection(&manager->lock);
    if (!manager->running_aborted) complete(block, r);
    manager->running = nullptr;
    LeaveCriticalSection(&manager->lock);
}

DWORD WINAPI worker_main(void*) {
    for (;;) {
        WaitForSingleObject(manager->work_ready, INFINITE);
        for (;;) {
            EnterCriticalSection(&manager->lock);
            if (manager->queue.empty()) {
                LeaveCriticalSection(&manager->lock);
                break;
            }
            const pending_request request = manager->queue.front();
            const SRB_ExecSCSICmd asked = *request.block;
            manager->queue.pop_front();
            manager->running = request.block;
            manager->running_aborted = false;
            // An abort that raced with the end of the previous request must not cut this one short.
            ResetEvent(manager->abort_signal);
            LeaveCriticalSection(&manager->lock);
            run(request, asked);
        }
    }
}

DWORD adapter_count() {
    const sim::config& cfg = manager->machine.cfg;
    return cfg.aspi_adapter_count >= 0 ? static_cast<DWORD>(cfg.aspi_adapter_count)
                                       : static_cast<DWORD>(cfg.adapters.size());
}

DWORD host_adapter_inquiry(SRB_HAInquiry* srb) {
    const sim::config& cfg = manager->machine.cfg;
    const size_t id = srb->SRB_HaId;
    if (id >= cfg.adapters.size() || cfg.adapters[id].inquiry_fails) {
        srb->SRB_Status = SS_INVALID_HA;
        return SS_INVALID_HA;
    }
    srb->HA_Count = static_cast<BYTE>(adapter_count() & 0xFF);
    srb->HA_SCSI_ID = 7;
    std::memset(srb->HA_ManagerId, 0, sizeof srb->HA_ManagerId);
    std::memcpy(srb->HA_ManagerId, "ASPI for WIN32", 14);
    std::memset(srb->HA_Identifier, 0, sizeof srb->HA_Identifier);
    const std::string& identifier = cfg.adapters[id].identifier;
    std::memcpy(srb->HA_Identifier, identifier.data(), std::min<size_t>(16, identifier.size()));
    srb->SRB_Status = SS_COMP;
    return SS_COMP;
}

DWORD execute(SRB_ExecSCSICmd* block) {
    const sim::config& cfg = manager->machine.cfg;
    const size_t adapter = block->SRB_HaId;
    const int slot = manager->machine.slot_for_address(block->SRB_HaId, block->SRB_Target);
    BYTE refusal = SS_PENDING;
    if (adapter >= cfg.adapters.size() || cfg.adapters[adapter].rejects_requests) refusal = SS_INVALID_HA;
    else if (slot < 0 || block->SRB_Lun != 0) refusal = SS_NO_DEVICE;
    else if (block->SRB_CDBLen == 0 || block->SRB_CDBLen > sizeof block->CDBByte) refusal = SS_INVALID_CMD;
    if (refusal != SS_PENDING) {
        // Refused at once: nothing runs and no event is signalled.
        block->SRB_Status = refusal;
        return refusal;
    }
    if (!manager->worker) {
        manager->worker = CreateThread(nullptr, 0, worker_main, nullptr, 0, nullptr);
        if (!manager->worker) {
            block->SRB_Status = SS_ERR;
            return SS_ERR;
        }
    }
    EnterCriticalSection(&manager->lock);
    block->SRB_Status = SS_PENDING;
    manager->queue.push_back({block, &manager->machine.drives[static_cast<size_t>(slot)]});
    LeaveCriticalSection(&manager->lock);
    SetEvent(manager->work_ready);
    return SS_PENDING;
}

DWORD abort_request(SRB_Abort* srb) {
    EnterCriticalSection(&manager->lock);
    auto queued = std::find_if(manager->queue.begin(), manager->queue.end(),
                               [&](const pending_request& p) { return p.block == srb->SRB_ToAbort; });
    if (queued != manager->queue.end()) {
        SRB_ExecSCSICmd* block = queued->block;
        manager->queue.erase(queued);
        finish(block, SS_ABORTED);
    } else if (manager->running && manager->running == srb->SRB_ToAbort && !manager->running_aborted) {
        manager->running_aborted = true;
        finish(manager->running, SS_ABORTED);
        SetEvent(manager->abort_signal);
    }
    LeaveCriticalSection(&manager->lock);
    srb->SRB_Status = SS_COMP;
    return SS_COMP;
}

}  // namespace

extern "C" DWORD __cdecl GetASPI32SupportInfo() {
    if (!manager || !manager->ready) return static_cast<DWORD>(SS_FAILED_INIT) << 8;
    return (static_cast<DWORD>(manager->machine.cfg.aspi_status & 0xFF) << 8) | (adapter_count() & 0xFF);
}

extern "C" DWORD __cdecl SendASPI32Command(void* request) {
    if (!request) return SS_INVALID_SRB;
    auto* bytes = static_cast<BYTE*>(request);
    if (!manager || !manager->ready) {
        bytes[1] = SS_INVALID_HA;
        return SS_INVALID_HA;
    }
    switch (bytes[0]) {
    case SC_HA_INQUIRY: return host_adapter_inquiry(static_cast<SRB_HAInquiry*>(request));
    case SC_EXEC_SCSI_CMD: return execute(static_cast<SRB_ExecSCSICmd*>(request));
    case SC_ABORT_SRB: return abort_request(static_cast<SRB_Abort*>(request));
    default: bytes[1] = SS_INVALID_CMD; return SS_INVALID_CMD;
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    manager = new manager_state;
    InitializeCriticalSection(&manager->lock);
    manager->work_ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    manager->abort_signal = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    QueryPerformanceFrequency(&manager->clock_rate);
    QueryPerformanceCounter(&manager->clock_start);
    manager->report_folder = environment("ODD_ASPI_REPORT");
    try {
        load_machine();
        manager->ready = true;
    } catch (const std::exception& e) {
        // A manager that cannot start answers SS_FAILED_INIT, as a real one does.
        std::fprintf(stderr, "WNASPI32: %s\n", e.what());
        if (!manager->report_folder.empty()) aspi_emu::write_error_report(manager->report_folder, e.what());
        return TRUE;
    }
    // A machine without an ASPI manager: loading it fails.
    if (!manager->machine.cfg.aspi_present) return FALSE;
    report(false);
    return TRUE;
}
