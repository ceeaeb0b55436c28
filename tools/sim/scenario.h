// Scenario files: a whole simulated machine described in JSON (the host, the
// ASPI manager, image files, emulated drives and the user's answers), loaded
// into a simulated host. The format is documented in docs/scenarios.md.
#pragma once

#include <string>

#include "platform/sim/sim_host.h"

namespace sim {

// Fills `h` from the scenario text. `base_directory` is the folder relative
// paths in the scenario are taken from. Image files described by their header
// fields are written into `image_directory` (the run's folder). Throws
// std::runtime_error with a readable reason on a malformed scenario.
void load_scenario(host& h, const std::string& json_text, const std::string& base_directory,
                   const std::string& image_directory);

// True when the scenario describes images to be built (they need a folder).
bool scenario_builds_images(const std::string& json_text);

}  // namespace sim
