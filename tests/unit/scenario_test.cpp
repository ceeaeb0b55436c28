// Scenario files: what a scenario sets reaches the simulated host, and a
// scenario the simulator cannot honour is refused with a reason, never taken
// with a value that wrapped or was cut.
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "entry/options.h"
#include "test_support.h"
#include "tools/sim/scenario.h"

namespace {

TEST(scenario_reader, fills_the_host_and_its_drives) {
    sim::machine h;
    sim::load_scenario(h, R"({
        "host": { "family": "98", "code_page": 932, "registry_keys": ["SOFTWARE\\INTEL\\X"],
                  "interrupt_in_update": 2 },
        "aspi": { "adapters": ["intelata", { "identifier": "NTMAPHLP", "inquiry_fails": true }], "abort_ms": 1200 },
        "drives": [ { "adapter": 1, "target": 3, "revision": "1.20", "refuse_block": 4,
                      "faults": [ { "command": 7, "kind": "timeout" } ] },
                    { "letter": "E", "ieee1394": true } ],
        "answers": ["yes", "no", "ok", "none", 7] })",
                       ".", "");
    EXPECT_EQ(h.cfg.platform_id, VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_EQ(h.cfg.minor_version, 10u);
    EXPECT_EQ(h.cfg.oem_code_page, 932u);
    EXPECT_EQ(h.cfg.interrupt_in_update, 2);
    ASSERT_EQ(h.cfg.adapters.size(), 2u);
    EXPECT_TRUE(h.cfg.aspi_present);
    EXPECT_TRUE(h.cfg.adapters[1].inquiry_fails);
    EXPECT_EQ(h.cfg.aspi_abort_ms, 1200u);
    ASSERT_EQ(h.drives.size(), 2u);
    EXPECT_EQ(h.drives[0].adapter, 1);
    EXPECT_EQ(h.drives[0].target, 3);
    EXPECT_EQ(h.drives[0].drive->config().revision, "1.20");
    EXPECT_EQ(h.drives[0].drive->config().refuse_block, 4);
    ASSERT_EQ(h.drives[0].drive->config().injected.size(), 1u);
    EXPECT_EQ(h.drives[0].drive->config().injected[0].kind, emu::fault_kind::timeout);
    EXPECT_EQ(h.drives[1].address_error, ERROR_NOT_SUPPORTED);
    EXPECT_EQ(h.cfg.answers, (std::vector<int>{IDYES, IDNO, IDOK, 0, 7}));
}

TEST(scenario_reader, refuses_what_it_cannot_honour) {
    const char* refused[] = {
        "not json",
        "[]",
        R"({"host": {"code_page": 1e20}})",          // a float where a whole number belongs
        R"({"host": {"code_page": 437.5}})",
        R"({"images": [{"size": -1}]})",             // would wrap to 4 GiB
        R"({"images": [{"size": 209715277777}]})",   // does not fit 32 bits
        R"({"images": [{"size": 16777217}]})",       // larger than any image buffer
        R"({"images": [{"path": "../A0013431.128"}]})",
        R"({"drives": [{"letter": "E", "faults": [{"command": -1}]}]})",
        R"({"drives": [{"revision": "1.23"}]})",     // neither a letter nor an address
        R"({"host": {"family": "os2"}})",
        R"({"answers": ["maybe"]})",
    };
    for (const char* text : refused) {
        sim::machine h;
        EXPECT_THROW(sim::load_scenario(h, text, ".", "/nonexistent"), std::runtime_error) << text;
    }
}

// What a run of an example did: the console, every command of every drive, every wait.
struct run_record {
    int exit_code = -1;
    std::string console;
    std::vector<std::vector<uint8_t>> commands;
    std::vector<uint32_t> waits;
    size_t boxes = 0;
};

run_record run_example(const std::filesystem::path& example, bool unattended) {
    reset_run_state();
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "odd-unattended-example";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    run_record record;
    {
        sim::machine h;
        const sim::scenario_file file = sim::read_scenario_file(example.string());
        sim::load_scenario(h, file.text, file.folder, folder.string());
        // The person who answers every question Yes, or nobody at all.
        h.cfg.answers.assign(unattended ? 0 : 100, IDYES);
        options.yes = unattended;
        h.install();
        record.exit_code = updater_main(0, nullptr);
        record.console = h.console;
        for (const sim::drive_slot& slot : h.drives)
            for (const emu::command_record& c : slot.drive->log()) record.commands.push_back(c.cdb);
        record.waits = h.waits;
        record.boxes = h.boxes.size();
    }
    reset_run_state();
    std::filesystem::remove_all(folder);
    return record;
}

// --yes is the interactive run answered Yes, byte for byte, command for
// command and wait for wait, with no box shown; exit code 3 only where a
// drive was left as it is for a reason other than being up to date.
TEST(unattended_run, is_each_example_answered_yes) {
    size_t examples = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ODD_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".json") continue;
        ++examples;
        SCOPED_TRACE(entry.path().filename().string());
        const run_record asked = run_example(entry.path(), false);
        const run_record unattended = run_example(entry.path(), true);
        EXPECT_EQ(unattended.console, asked.console);
        EXPECT_EQ(unattended.commands, asked.commands);
        EXPECT_EQ(unattended.waits, asked.waits);
        EXPECT_EQ(unattended.boxes, 0u);
        const bool disc = entry.path().filename() == "disc-in-drive.json";
        EXPECT_EQ(unattended.exit_code, disc ? 3 : asked.exit_code);
    }
    EXPECT_GE(examples, 9u);
}

// The record of a run of two drives, one updated and one already up to date,
// read back as JSON: a line for each drive and one for the run.
TEST(run_record, two_drives_read_back) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "odd-run-record";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    reset_run_state();
    {
        sim::machine h;
        sim::load_scenario(h, R"({ "images": [ { "path": "A0013431.128", "version": "1.28 ", "date": "08/07/25" } ],
            "drives": [ { "letter": "E", "revision": "1.23", "date": "08/07/25" },
                        { "letter": "F", "revision": "1.28", "date": "08/07/25" } ] })",
                           ".", folder.string());
        options.yes = true;
        options.log = (folder / "runs.log").string();
        h.install();
        EXPECT_EQ(updater_main(0, nullptr), 0);
    }
    reset_run_state();
    std::ifstream log(folder / "runs.log");
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(nlohmann::json::parse(line));
    std::filesystem::remove_all(folder);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0]["device"], "E:");
    EXPECT_EQ(lines[0]["before_revision"], "1.23");
    EXPECT_EQ(lines[0]["after_revision"], "1.28");
    EXPECT_EQ(lines[0]["image_version"], "1.28");
    EXPECT_EQ(lines[0]["result"], "updated");
    EXPECT_EQ(lines[1]["device"], "F:");
    EXPECT_EQ(lines[1]["vendor"], "QUARLEN");
    EXPECT_EQ(lines[1]["result"], "up-to-date");
    EXPECT_EQ(lines[2]["record"], "run");
    EXPECT_EQ(lines[2]["exit_code"], 0);
    EXPECT_EQ(lines[2]["yes"], true);
    for (const nlohmann::json& line : lines) EXPECT_EQ(line["time"].get<std::string>().size(), 20u) << line;
}

}  // namespace
