// WNASPI32.DLL for tests: the virtual ASPI manager (emulator/aspi_manager.h)
// over the host adapters and drives of the scenario file named in the
// environment variable ODD_ASPI_SCENARIO ("aspi" and "drives"; "images" are
// written into the folder the process runs in, where the updater reads them).
// Its clock is real milliseconds: an execute request runs on its drive as it
// is sent, and a worker thread ends it after the drive's own time, as a real
// manager ends it from its interrupt path, and sets the request's event. What
// the drives hold goes to the folder named in ODD_ASPI_REPORT after every
// command.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "emulator/aspi_manager.h"
#include "platform/aspi.h"
#include "tools/aspi-emu/drive_report.h"
#include "tools/sim/scenario.h"

namespace {

void report(bool with_images);

struct manager_state : emu::aspi_owner {
    sim::machine machine;  // the scenario's adapters and drives; its platform table is never installed
    emu::aspi_manager aspi{*this};
    bool ready = false;
    std::string report_folder;
    LARGE_INTEGER clock_start{};
    LARGE_INTEGER clock_rate{};

    // The caller's thread sends requests, the worker ends them.
    CRITICAL_SECTION lock;
    HANDLE work_ready = nullptr;  // auto-reset: a request was sent or aborted
    HANDLE worker = nullptr;

    emu::aspi_settings settings() const override { return sim::aspi_settings_of(machine.cfg); }

    // Milliseconds since the manager was loaded: the drives' clock, so a
    // re-flash keeps a drive not ready for its real length.
    uint64_t clock_ms() const override {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<uint64_t>((now.QuadPart - clock_start.QuadPart) * 1000 / clock_rate.QuadPart);
    }

    int drive_at(int adapter, int target) const override { return machine.slot_for_address(adapter, target); }
    uint8_t device_type(int drive) const override {
        return machine.drives[static_cast<size_t>(drive)].drive->config().peripheral;
    }

    emu::command_result run(int drive, const uint8_t* cdb, size_t cdb_length, int direction, uint8_t* data,
                            uint32_t data_length) override {
        emu::virtual_drive& d = *machine.drives[static_cast<size_t>(drive)].drive;
        const uint32_t reflashes = d.reflash_count();
        const emu::command_result r = d.execute(cdb, cdb_length, direction, data, data_length, 0, clock_ms());
        // The report is written before the caller can see the request end, so a
        // program that exits right after its last command leaves it complete.
        report(d.reflash_count() != reflashes);
        return r;
    }

    void signal(void* event) override { SetEvent(static_cast<HANDLE>(event)); }
};

manager_state* manager = nullptr;

std::string environment(const char* name) {
    char value[MAX_PATH * 2];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void load_machine() {
    const std::string path = environment("ODD_ASPI_SCENARIO");
    if (path.empty()) throw std::runtime_error("ODD_ASPI_SCENARIO is not set");
    const sim::scenario_file scenario = sim::read_scenario_file(path);
    sim::load_scenario(manager->machine, scenario.text, scenario.folder, ".");
}

void report(bool with_images) {
    if (!manager->report_folder.empty())
        aspi_emu::write_drive_report(manager->report_folder, manager->machine.drives, with_images);
}

DWORD WINAPI worker_main(void*) {
    for (;;) {
        EnterCriticalSection(&manager->lock);
        manager->aspi.end_due_requests();
        DWORD wait = INFINITE;
        uint64_t ends_at = 0;
        if (manager->aspi.next_end(ends_at)) {
            const uint64_t now = manager->clock_ms();
            wait = ends_at > now ? static_cast<DWORD>(std::min<uint64_t>(ends_at - now, INFINITE - 1)) : 0;
        }
        LeaveCriticalSection(&manager->lock);
        // A request sent or aborted meanwhile may end before the one waited for.
        WaitForSingleObject(manager->work_ready, wait);
    }
}

}  // namespace

extern "C" DWORD __cdecl GetASPI32SupportInfo() {
    if (!manager || !manager->ready) return static_cast<DWORD>(SS_FAILED_INIT) << 8;
    return manager->aspi.support_info();
}

extern "C" DWORD __cdecl SendASPI32Command(void* request) {
    if (!request) return SS_INVALID_SRB;
    auto* bytes = static_cast<BYTE*>(request);
    if (!manager || !manager->ready) {
        bytes[1] = SS_INVALID_HA;
        return SS_INVALID_HA;
    }
    if (bytes[0] == SC_EXEC_SCSI_CMD && !manager->worker) {
        manager->worker = CreateThread(nullptr, 0, worker_main, nullptr, 0, nullptr);
        if (!manager->worker) {
            bytes[1] = SS_ERR;
            return SS_ERR;
        }
    }
    EnterCriticalSection(&manager->lock);
    const DWORD status = manager->aspi.send(request);
    LeaveCriticalSection(&manager->lock);
    SetEvent(manager->work_ready);
    return status;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    manager = new manager_state;
    InitializeCriticalSection(&manager->lock);
    manager->work_ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
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
