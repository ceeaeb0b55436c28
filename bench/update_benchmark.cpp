// CPU cost of the updater's own work: a whole simulated update of one drive
// with an 8 MiB image, and the transfer path alone for one 32 KiB block.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/sim/sim_host.h"
#include "tests/unit/run_state.h"
#include "tools/make-image/image_builder.h"
#include "update/update.h"

namespace {

constexpr uint32_t IMAGE_SIZE = 8u * 1024 * 1024;
constexpr uint32_t BLOCK = 32768;

const std::string& image_folder() {
    static const std::string folder = [] {
        std::string dir = (std::filesystem::temp_directory_path() / "odd-fwupdate-bench").string();
        std::filesystem::create_directories(dir);
        image_fields fields;
        fields.size = IMAGE_SIZE;
        if (!write_image_file(dir + "/" + release_image_file_name(), fields)) std::perror("image");
        return dir;
    }();
    return folder;
}

void prepare(sim::machine& h) {
    h.cfg.directory = image_folder();
    h.cfg.answers = {IDYES};
    emu::drive_config drive;
    drive.block_ms = 0;
    h.add_drive_at_letter('E', drive);
    reset_run_state();
    h.install();
}

void whole_update_8mib(benchmark::State& state) {
    int failures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto h = std::make_unique<sim::machine>();
        prepare(*h);
        state.ResumeTiming();
        if (updater_main(0, nullptr) != 0) ++failures;
        state.PauseTiming();
        if (h->drive(0).flashed_image().size() != IMAGE_SIZE) ++failures;
        h.reset();
        state.ResumeTiming();
    }
    if (failures) state.SkipWithError("the update did not complete");
}
BENCHMARK(whole_update_8mib)->Unit(benchmark::kMillisecond);

// One image block from the image buffer to the drive: the builder, the
// pass-through block, the simulated DeviceIoControl and the drive's copy.
void transfer_one_block(benchmark::State& state) {
    sim::machine h;
    prepare(h);
    init_firmware_descriptor();
    detect_host_environment(working_buffers_of_the_run());
    enumerate_targets(descriptor_rows());
    current_target = 0;
    identify_drive(descriptor_rows());
    loaded_image image;
    if (load_image(image) != 0) {
        state.SkipWithError("image not loaded");
        return;
    }
    uint32_t offset = IMAGE_SIZE;
    int failures = 0;
    for (auto _ : state) {
        if (offset + BLOCK > IMAGE_SIZE) {
            state.PauseTiming();
            if (enter_update_mode(current_release.model_code) != 0) ++failures;
            offset = 0;
            state.ResumeTiming();
        }
        if (write_image_chunk(target_of(current_target), offset, BLOCK, image.bytes + offset).failed()) ++failures;
        offset += BLOCK;
    }
    if (failures) state.SkipWithError("a block was refused");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * BLOCK);
    release_host_environment();
}
BENCHMARK(transfer_one_block)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
