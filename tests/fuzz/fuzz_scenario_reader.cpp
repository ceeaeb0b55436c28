// Fuzz target: any text as a scenario file for the simulator. The reader
// either fills the simulated host or refuses the text with std::runtime_error
// and a reason; any other way out is a fault of the reader. A scenario that
// holds a machine's record (a drive's recorded answers) is replayed too, as
// its check: whatever the drive answered, the replay ends. Image files the
// scenario describes are written into a folder of this process, emptied after
// every input.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "entry/entry.h"
#include "entry/options.h"
#include "platform/sim/sim_host.h"
#include "run_state.h"
#include "tools/sim/scenario.h"

namespace {

// A folder in memory when the machine has one, as the simulator makes it,
// removed when the process ends.
struct image_folder {
    image_folder() {
        std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        path = base + "/fuzz-scenario.XXXXXX";
        if (!mkdtemp(path.data())) std::abort();
    }
    ~image_folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const image_folder images_here;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string& folder = images_here.path;
    const std::string images = sim::scenario_builds_images(text) ? folder : std::string();
    {
        sim::machine h;
        bool loaded = false;
        try {
            sim::load_scenario(h, text, folder, images);
            loaded = true;
        } catch (const std::runtime_error&) {
        }
        if (loaded && (text.find("inquiry_bytes") != std::string::npos || text.find("identity_bytes") != std::string::npos)) {
            reset_run_state();
            h.install();
            options.check = true;
            updater_main(0, nullptr);
            reset_run_state();
        }
    }
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    return 0;
}
