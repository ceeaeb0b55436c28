// What the fuzz targets share: a run of the updater prepared up to the drive
// at current_target (a simulated host with one emulated drive at E:, the
// built-in descriptor, the host state of the NT family, the working buffers)
// without enumeration's many commands, and the way a target reports an input
// that broke a promise of the updater (not only a crash).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "discovery/enumeration.h"
#include "discovery/host_environment.h"
#include "entry/entry.h"
#include "image/firmware_image.h"
#include "platform/sim/sim_host.h"
#include "run_state.h"
#include "transport/drive_commands.h"

namespace fuzz {

constexpr uint32_t NT_IMAGE_BUFFER_SIZE = 0x800000;
constexpr uint32_t WIN9X_IMAGE_BUFFER_SIZE = 0x200000;
constexpr uint32_t DRIVE_DATA_BUFFER_SIZE = 0x200000;
constexpr uint32_t SMALL_BUFFER_SIZE = 512;

// Ends the process so that libFuzzer keeps the input that did this.
[[noreturn]] inline void broken(const char* promise) {
    std::fprintf(stderr, "broken: %s\n", promise);
    std::abort();
}
inline void require(bool kept, const char* promise) {
    if (!kept) broken(promise);
}

// The working buffers, taken once for the process, each exactly as large as
// the updater is told, so a byte read or written past one is caught; the image
// buffer comes in the size of either family. Every run starts with them
// zeroed, so an input does the same whatever ran before it.
struct working_memory {
    std::vector<uint8_t> drive_data = std::vector<uint8_t>(DRIVE_DATA_BUFFER_SIZE);
    std::vector<uint8_t> image_nt = std::vector<uint8_t>(NT_IMAGE_BUFFER_SIZE);
    std::vector<uint8_t> image_9x = std::vector<uint8_t>(WIN9X_IMAGE_BUFFER_SIZE);
    std::vector<uint8_t> small = std::vector<uint8_t>(SMALL_BUFFER_SIZE);
    std::vector<uint8_t>* image = &image_nt;
};

// Only the enumeration probes write into the drive data buffer, 96 bytes each.
constexpr size_t DRIVE_DATA_USED = 0x1000;

inline working_memory& memory() {
    static working_memory m;
    return m;
}

// Installs `h` and brings the run state to where the target loop calls the
// update of target 0 (drive letter E). The release of row 0 is current, as if
// an earlier drive had matched, so that every later step has a file to load.
inline void prepare_run(sim::machine& h, bool win9x_image_buffer = false) {
    reset_run_state();
    h.install();
    working_memory& m = memory();
    oem_code_page = host::GetOEMCP();
    init_firmware_descriptor();
    current_release = firmware_descriptor[0];
    win9x_family = 0;
    intel_ide_driver = 0;
    ieee1394_adapter = -1;
    command_timeout_ms = 1000;
    drive_data_buffer = {nullptr, m.drive_data.data(), DRIVE_DATA_BUFFER_SIZE};
    m.image = win9x_image_buffer ? &m.image_9x : &m.image_nt;
    image_buffer = {nullptr, m.image->data(), static_cast<uint32_t>(m.image->size())};
    small_buffer = {nullptr, m.small.data(), SMALL_BUFFER_SIZE};
    hold_working_buffers(working_buffers_of_the_run());
    target_table[0].drive_letter = 'E';
    target_count = 1;
    current_target = 0;
    update_all = 0;
}

// Gives the buffers back zeroed and clears the run state. `image_written` is
// how many bytes at the start of the image buffer the run may have filled.
inline void end_run(uint32_t image_written) {
    working_memory& m = memory();
    std::memset(m.drive_data.data(), 0, DRIVE_DATA_USED);
    std::memset(m.image->data(), 0, std::min<size_t>(image_written, m.image->size()));
    std::memset(m.small.data(), 0, m.small.size());
    reset_run_state();
}

}  // namespace fuzz
