// Scenario files: a whole simulated machine described in JSON (the host, the
// ASPI manager, image files, emulated drives and the user's answers), read and
// loaded into a simulated host, for the simulator, the emulated ASPI manager
// and the SG_IO shim alike. The format is documented in docs/scenarios.md.
#pragma once

#include <string>

#include "platform/sim/sim_host.h"

namespace sim {

// A scenario file read whole, and the folder its relative paths start from.
struct scenario_file {
    std::string text;
    std::string folder;
};

// Reads the scenario file at `path`, whose folders are separated by '/' (and
// on Windows by '\' too). Throws std::runtime_error("cannot read PATH").
scenario_file read_scenario_file(const std::string& path);

// Fills `h` from the scenario text. `base_directory` is the folder relative
// paths in the scenario are taken from. Image files described by their header
// fields are written into `image_directory` (the run's folder). Throws
// std::runtime_error with a readable reason on a malformed scenario.
void load_scenario(machine& h, const std::string& json_text, const std::string& base_directory,
                   const std::string& image_directory);

// True when the scenario describes images to be built (they need a folder).
bool scenario_builds_images(const std::string& json_text);

}  // namespace sim
