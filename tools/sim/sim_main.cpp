// odd-fwupdate-sim SCENARIO.json [--trace FILE] [--check] [--yes] [--log FILE] [--image PATH] [--record FILE]:
// the updater run against the simulated host a scenario describes, with the
// updater's own options. Standard output carries exactly the
// console bytes, message boxes go to standard error, the exit code is the
// updater's.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "entry/entry.h"
#include "entry/options.h"
#include "tools/sim/scenario.h"

namespace {

int usage() {
    std::cerr << "usage: odd-fwupdate-sim SCENARIO.json [--trace FILE] [--check] [--yes] [--log FILE] [--image PATH] [--record FILE]\n";
    return 2;
}

// The scenario's image folder, removed however the run ends.
struct image_folder {
    std::string path;
    ~image_folder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::string scenario_path, trace_path;
    std::vector<char*> updater_arguments{argv[0]};
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--trace" && i + 1 < argc) trace_path = argv[++i];
        else if (!arg.empty() && arg[0] != '-' && scenario_path.empty()) scenario_path = arg;
        else if ((arg == "--log" || arg == "--image" || arg == "--record") && i + 1 < argc) updater_arguments.insert(updater_arguments.end(), {argv[i], argv[i + 1]}), ++i;
        else if (arg == "--check" || arg == "--yes") updater_arguments.push_back(argv[i]);
        else return usage();
    }
    if (scenario_path.empty()) return usage();
    std::string refused;
    if (parse_options(static_cast<int>(updater_arguments.size()), updater_arguments.data(), false, refused) != 0)
        return usage();

    sim::scenario_file scenario;
    try {
        scenario = sim::read_scenario_file(scenario_path);
    } catch (const std::exception& e) {
        std::cerr << "odd-fwupdate-sim: " << e.what() << "\n";
        return 2;
    }

    image_folder images;
    std::string& image_directory = images.path;
    if (sim::scenario_builds_images(scenario.text)) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/odd-fwupdate-sim.XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::cerr << "odd-fwupdate-sim: cannot make a folder for the scenario's images\n";
            return 2;
        }
        image_directory = pattern;
    }

    sim::machine h;
    try {
        sim::load_scenario(h, scenario.text, scenario.folder, image_directory);
    } catch (const std::exception& e) {
        std::cerr << "odd-fwupdate-sim: " << e.what() << "\n";
        return 2;
    }
    std::ofstream trace;
    if (!trace_path.empty()) {
        trace.open(trace_path, std::ios::binary | std::ios::trunc);
        if (!trace) {
            std::cerr << "odd-fwupdate-sim: cannot write " << trace_path << "\n";
            return 2;
        }
        h.set_trace(&trace);
    }
    // The simulated console goes where the simulator's own goes: a file or a
    // pipe makes it a log, as on a real host.
    if (::isatty(STDOUT_FILENO) != 1) h.cfg.console_redirected = true;
    h.console_echo = &std::cout;
    h.box_echo = &std::cerr;
    h.install();
    int code = updater_main(argc, argv);
    std::cout.flush();
    // As a real host names them when the run ends.
    for (const std::string& notice : h.left_drive_notices()) std::cerr << "\n" << notice;
    return code;
}
