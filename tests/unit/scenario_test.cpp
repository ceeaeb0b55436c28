// Scenario files: what a scenario sets reaches the simulated host, and a
// scenario the simulator cannot honour is refused with a reason, never taken
// with a value that wrapped or was cut. Whole runs of scenarios in a folder:
// what is decided before the first command, and the record a run leaves.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "drive_expectations.h"
#include "entry/options.h"
#include "image/sha256.h"
#include "platform/drive_proof.h"
#include "platform/win32/file_identity.h"
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
        R"({"drives": [{"letter": "E", "faults": [{"command": 1, "cdb": "3B 5"}]}]})",  // not bytes
        R"({"drives": [{"letter": "E", "faults": [{"command": 1, "cdb": "3B zz"}]}]})",
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

// A run of the scenario `example` in a folder of its own, with the options
// and answers `prepare` sets on the machine.
run_record run_scenario(const std::filesystem::path& example, const std::function<void(sim::machine&)>& prepare) {
    reset_run_state();
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "odd-unattended-example";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    run_record record;
    {
        sim::machine h;
        const sim::scenario_file file = sim::read_scenario_file(example.string());
        sim::load_scenario(h, file.text, file.folder, folder.string());
        prepare(h);
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

run_record run_example(const std::filesystem::path& example, bool unattended) {
    return run_scenario(example, [unattended](sim::machine& h) {
        // The person who answers every question Yes, or nobody at all.
        h.cfg.answers.assign(unattended ? 0 : 100, IDYES);
        options.yes = unattended;
    });
}

// --yes is the interactive run answered Yes, byte for byte, command for
// command and wait for wait, with no box shown; its exit code is the one a
// deployment tool acts on: 0 up to date, 4 no drive, 5 a disc, 7 a drive
// left in its update firmware.
TEST(unattended_run, is_each_example_answered_yes) {
    const std::map<std::string, int> codes = {
        {"disc-in-drive.json", 5}, {"no-drive.json", 4},       {"no-drive-ja.json", 4},
        {"refused-block.json", 7}, {"stays-in-update-mode.json", 7},
    };
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
        const auto code = codes.find(entry.path().filename().string());
        EXPECT_EQ(unattended.exit_code, code == codes.end() ? 0 : code->second);
    }
    EXPECT_GE(examples, 9u);
}

// The check of `scenario`, writing the machine's record to `record` when given.
run_record run_check(const std::filesystem::path& scenario, const std::string& record = "") {
    return run_scenario(scenario, [&record](sim::machine&) {
        options.check = true;
        options.record = record;
    });
}

// A machine's record replays as that machine: the check of the record is the
// check of the machine, line for line, and the record names no host or user.
TEST(record_of_a_machine, replays_as_its_check_and_names_nobody) {
    const std::string record = (std::filesystem::temp_directory_path() / "odd-machine-record.json").string();
    for (const auto& entry : std::filesystem::directory_iterator(ODD_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".json") continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::filesystem::remove(record);
        const run_record machine = run_check(entry.path(), record);
        std::ifstream in(record, std::ios::binary);
        ASSERT_TRUE(in.good()) << "no record written";
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find("simulated"), std::string::npos) << "the machine's name is in the record";
        if (const char* user = std::getenv("USER"); user && std::strlen(user) > 3)
            EXPECT_EQ(text.find(user), std::string::npos) << "the user's name is in the record";
        const run_record replay = run_check(record);
        EXPECT_EQ(replay.console, machine.console);
        EXPECT_EQ(replay.exit_code, machine.exit_code);
    }
    std::filesystem::remove(record);
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
            "drives": [ { "letter": "E", "revision": "1.23", "date": "08/07/25", "serial": "KWR32200417" },
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
    // E: as it enters its update window, then as it ends; F:; the run.
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0]["device"], "E:");
    EXPECT_EQ(lines[0]["result"], "updating");
    EXPECT_EQ(lines[1]["device"], "E:");
    EXPECT_EQ(lines[1]["before_revision"], "1.23");
    EXPECT_EQ(lines[1]["after_revision"], "1.28");
    EXPECT_EQ(lines[1]["image_version"], "1.28");
    EXPECT_EQ(lines[1]["image_size"], 2097152);
    EXPECT_EQ(lines[1]["image_sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(lines[1]["result"], "updated");
    EXPECT_EQ(lines[1]["serial"], "KWR32200417");
    EXPECT_EQ(lines[2]["device"], "F:");
    EXPECT_EQ(lines[2]["vendor"], "QUARLEN");
    EXPECT_EQ(lines[2]["result"], "up-to-date");
    EXPECT_EQ(lines[3]["record"], "run");
    EXPECT_EQ(lines[3]["exit_code"], 0);
    EXPECT_EQ(lines[3]["yes"], true);
    for (const nlohmann::json& line : lines) {
        EXPECT_EQ(line.value("time", "").size(), 20u) << line;
        EXPECT_EQ(line.value("run_id", ""), lines[0].value("run_id", "-")) << line;
    }
}

}  // namespace

namespace {

// A whole run of a scenario in a folder of its own, with the record read back.
struct folder_run {
    std::filesystem::path folder;
    int exit_code = -1;
    size_t commands = 0;  // on every drive
    std::vector<std::string> notices;
    std::vector<nlohmann::json> records;
    std::string console;

    folder_run(const std::string& scenario, const std::function<void(const std::filesystem::path&)>& prepare) {
        folder = std::filesystem::temp_directory_path() / ("odd-run-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        reset_run_state();
        {
            sim::machine h;
            sim::load_scenario(h, scenario, ".", folder.string());
            h.cfg.directory = folder.string();
            h.install();
            prepare(folder);
            exit_code = updater_main(0, nullptr);
            for (const sim::drive_slot& d : h.drives) commands += d.drive->log().size();
            notices = h.notices;
            console = h.console;
        }
        reset_run_state();
        std::ifstream log(folder / "runs.log");
        for (std::string line; std::getline(log, line);) records.push_back(nlohmann::json::parse(line));
    }
    ~folder_run() { std::filesystem::remove_all(folder); }
};

const char ONE_DRIVE[] = R"({ "images": [ { "path": "A0013431.128", "version": "1.28 ", "date": "08/07/25" } ],
    "drives": [ { "letter": "E", "revision": "1.23", "date": "08/07/25" } ], "answers": [ "yes", "ok" ] })";

void write_text(const std::filesystem::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string digest_of(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint8_t digest[SHA256_SIZE];
    sha256(bytes.data(), bytes.size(), digest);
    return sha256_text(digest);
}

// The image's line of a checksum file, as sha256sum writes it, without its end.
std::string checksum_line(const std::filesystem::path& folder) { return digest_of(folder / "A0013431.128") + "  A0013431.128"; }

// The text as PowerShell's Out-File saves it: UTF-16LE after its mark.
std::string utf16le(const std::string& text) {
    std::string saved = "\xFF\xFE";
    for (char c : text) saved += std::string{c, '\0'};
    return saved;
}

const char ONE_DRIVE_NO_CHECKSUM[] = R"({ "images": [ { "path": "A0013431.128", "version": "1.28 ", "date": "08/07/25",
    "checksum_file": false } ], "drives": [ { "letter": "E", "revision": "1.23", "date": "08/07/25" } ],
    "answers": [ "yes", "ok" ] })";

void no_checksum_file(const std::filesystem::path& f) { std::filesystem::remove(f / "A0013431.128.sha256"); }

// What comes before the first command to any drive: the claim on the machine,
// the record that would be the image, and the image's checksum file and release.
struct opening_case {
    const char* name;
    const char* scenario;
    bool check, yes;
    std::function<void(const std::filesystem::path&)> prepare;
    int exit_code;
    const char* notice;  // the start of the one line told; empty: none, and the drive is updated
};

const char ANOTHER_RUN[] = R"({ "host": { "another_run": true }, "images": [ { "path": "A0013431.128" } ],
    "drives": [ { "letter": "E" } ], "answers": [ "yes" ] })";

const opening_case OPENINGS[] = {
    {"another_run", ANOTHER_RUN, false, false, nullptr, 1, "odd-fwupdate: another run is updating drives on this machine"},
    {"another_run_unattended", ANOTHER_RUN, false, true, nullptr, 5, "odd-fwupdate: another run"},
    {"another_run_checked", ANOTHER_RUN, true, false, nullptr, 5, "odd-fwupdate: another run"},
    {"log_is_the_image", ONE_DRIVE, false, true,
     [](const std::filesystem::path& f) { options.log = (f / "." / "A0013431.128").string(); }, 2,
     "odd-fwupdate: the log "},
    {"checksum_matches", ONE_DRIVE, false, true,
     [](const std::filesystem::path& f) { write_text(f / "A0013431.128.sha256", digest_of(f / "A0013431.128") + "  A0013431.128\n"); },
     0, ""},
    {"checksum_binary_mode_with_folder_and_crlf", ONE_DRIVE, false, true,
     [](const std::filesystem::path& f) {
         write_text(f / "A0013431.128.sha256", std::string(64, '0') + "  OTHER.BIN\r\n" + digest_of(f / "A0013431.128") +
                                                   " *firmware/a0013431.128\r\n");
     },
     0, ""},
    {"checksum_differs", ONE_DRIVE, false, true,
     [](const std::filesystem::path& f) { write_text(f / "A0013431.128.sha256", std::string(64, 'a') + "  A0013431.128\n"); },
     6, "odd-fwupdate: the image file A0013431.128 does not match its checksum file A0013431.128.sha256"},
    {"checksum_differs_asked", ONE_DRIVE, false, false,
     [](const std::filesystem::path& f) { write_text(f / "A0013431.128.sha256", std::string(64, 'a') + "\n"); }, 1,
     "odd-fwupdate: the image file A0013431.128 does not match"},
    {"checksum_for_another_file", ONE_DRIVE, true, false,
     [](const std::filesystem::path& f) { write_text(f / "A0013431.128.sha256", digest_of(f / "A0013431.128") + "  A0013431.129\n"); },
     6, "odd-fwupdate: the checksum file A0013431.128.sha256 gives no SHA-256 for A0013431.128"},
    {"checksum_with_utf8_byte_order_mark", ONE_DRIVE, false, true,
     [](const std::filesystem::path& f) { write_text(f / "A0013431.128.sha256", "\xEF\xBB\xBF" + checksum_line(f) + "\r\n"); }, 0, ""},
    {"checksum_saved_by_powershell", ONE_DRIVE, false, true,
     [](const std::filesystem::path& f) { write_text(f / "A0013431.128.sha256", utf16le(checksum_line(f) + "\r\n")); }, 0, ""},
    {"checksum_tagged", ONE_DRIVE, false, true,
     [](const std::filesystem::path& f) {
         write_text(f / "A0013431.128.sha256", "SHA256 (firmware/A0013431.128) = " + digest_of(f / "A0013431.128") + "\n");
     },
     0, ""},
    {"checksum_list_with_the_image_past_4096_bytes", ONE_DRIVE, false, true,
     [](const std::filesystem::path& f) {
         std::string list;
         for (int i = 0; i < 80; ++i) list += std::string(64, 'a' + i % 6) + "  FILE" + std::to_string(100 + i) + ".BIN\n";
         write_text(f / "A0013431.128.sha256", list + checksum_line(f) + "\n");
     },
     0, ""},
    // A checksum file that is there but cannot be read whole refuses the image
    // (a FIFO without blocking the run); only one that is not there is none.
    {"checksum_file_a_folder", ONE_DRIVE, false, true,
     [](const std::filesystem::path& f) {
         no_checksum_file(f);
         std::filesystem::create_directory(f / "A0013431.128.sha256");
     },
     6, "odd-fwupdate: the checksum file A0013431.128.sha256 gives no SHA-256 for A0013431.128"},
    {"checksum_file_a_fifo", ONE_DRIVE, true, false,
     [](const std::filesystem::path& f) {
         no_checksum_file(f);
         ASSERT_EQ(::mkfifo((f / "A0013431.128.sha256").c_str(), 0644), 0);
     },
     6, "odd-fwupdate: the checksum file A0013431.128.sha256 gives no SHA-256"},
    {"checksum_file_larger_than_any_list", ONE_DRIVE, false, true,
     [](const std::filesystem::path& f) {
         write_text(f / "A0013431.128.sha256", checksum_line(f) + "\n" + std::string(1024 * 1024, '\n'));
     },
     6, "odd-fwupdate: the checksum file A0013431.128.sha256 gives no SHA-256"},
    // Unattended, or checked for such a run, an image needs a digest from
    // somewhere; asked, the dialogue goes on as ever.
    {"no_digest_unattended", ONE_DRIVE_NO_CHECKSUM, false, true, nullptr, 6,
     "odd-fwupdate: A0013431.128 has no checksum file: an unattended run updates a drive only with an image whose "
     "SHA-256 it was given; make one beside the image (sha256sum A0013431.128 >A0013431.128.sha256) or give --sha256\n"},
    {"no_digest_checked", ONE_DRIVE_NO_CHECKSUM, true, false, nullptr, 6, "odd-fwupdate: A0013431.128 has no checksum file"},
    {"no_digest_asked", ONE_DRIVE_NO_CHECKSUM, false, false, nullptr, 0, ""},
    {"sha256_given", ONE_DRIVE, false, true,
     [](const std::filesystem::path& f) {
         no_checksum_file(f);
         options.sha256 = digest_of(f / "A0013431.128");
         for (char& c : options.sha256) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
     },
     0, ""},
    {"sha256_differs", ONE_DRIVE, false, true,
     [](const std::filesystem::path&) { options.sha256 = std::string(64, 'a'); }, 6,
     "odd-fwupdate: the image file A0013431.128 does not match the SHA-256 given with --sha256; no drive was touched\n"},
    {"image_of_another_release", R"({ "images": [ { "path": "A0013431.128", "version": "1.30 " } ],
       "drives": [ { "letter": "E" } ] })", false, true, nullptr, 6,
     "odd-fwupdate: the image file A0013431.128 is not the image this build installs"},
};

class run_opening : public ::testing::TestWithParam<opening_case> {};

TEST_P(run_opening, is_decided_before_any_command) {
    const opening_case& c = GetParam();
    std::vector<uint8_t> image_before;
    folder_run run(c.scenario, [&](const std::filesystem::path& f) {
        options.check = c.check;
        options.yes = c.yes;
        options.log = (f / "runs.log").string();
        if (c.prepare) c.prepare(f);
        std::ifstream in(f / "A0013431.128", std::ios::binary);
        image_before.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
    EXPECT_EQ(run.exit_code, c.exit_code);
    std::ifstream in(run.folder / "A0013431.128", std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), image_before);
    if (*c.notice == '\0') {
        EXPECT_TRUE(run.notices.empty()) << run.notices.front();
        return;
    }
    ASSERT_EQ(run.notices.size(), 1u);
    EXPECT_EQ(run.notices[0].rfind(c.notice, 0), 0u) << run.notices[0];
    if (c.exit_code != EXIT_IMAGE_REFUSED) {
        EXPECT_EQ(run.commands, 0u);
        // Another run kept this one from the drives: its line says so.
        if (std::string(c.name).rfind("another_run", 0) == 0) {
            ASSERT_FALSE(run.records.empty());
            EXPECT_EQ(run.records.back().value("reason", ""), "another-run");
        }
        return;
    }
    // A refused image: the drive is still listed, by its INQUIRY and identity
    // block alone (a check: as it judges a drive without its image), and
    // recorded with the image's fault.
    EXPECT_EQ(run.commands, c.check ? 5u : 2u);
    ASSERT_EQ(run.records.size(), 2u);
    EXPECT_EQ(run.records[0].value("reason", ""), "image-refused") << run.records[0];
    EXPECT_EQ(run.records[0].value("image_sha256", ""), digest_of(run.folder / "A0013431.128"));
    EXPECT_EQ(run.records[0].contains("image_sha256_expected"), std::string(c.name).find("_differs") != std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(runs, run_opening, ::testing::ValuesIn(OPENINGS),
                         [](const auto& info) { return std::string(info.param.name); });

// The Windows host's "the log is the image": a FAT volume under Windows 98
// gives index 0, or one that changes, so its path tells; a hard link on NTFS
// is told by its index. Whatever cannot be told is the image.
struct identity_case {
    const char* name;
    file_identity a, b;
    path_match paths;
    bool one;
};
const identity_case IDENTITIES[] = {
    {"ntfs_hard_link", {7, 0, 42, true}, {7, 0, 42, true}, path_match::different, true},
    {"ntfs_other_file", {7, 0, 42, true}, {7, 0, 43, true}, path_match::different, false},
    {"ntfs_other_volume", {7, 0, 42, true}, {8, 0, 42, true}, path_match::different, false},
    {"fat_index_zero_same_path", {7, 0, 0, true}, {7, 0, 0, true}, path_match::same, true},
    {"fat_index_zero_other_file", {7, 0, 0, true}, {7, 0, 0, true}, path_match::different, false},
    {"fat_index_changed_same_path", {7, 0, 5, false}, {7, 0, 9, false}, path_match::same, true},
    {"fat_index_repeated_other_file", {7, 0, 5, false}, {7, 0, 5, false}, path_match::different, false},
    {"fat_path_not_had", {7, 0, 0, true}, {7, 0, 0, true}, path_match::unknown, true},
    {"ntfs_path_not_had", {7, 0, 42, true}, {7, 0, 43, true}, path_match::unknown, false},
};

class windows_file_identity : public ::testing::TestWithParam<identity_case> {};

TEST_P(windows_file_identity, keeps_a_log_out_of_the_image) {
    const identity_case& c = GetParam();
    EXPECT_EQ(one_file(c.a, c.b, c.paths), c.one);
    EXPECT_EQ(one_file(c.b, c.a, c.paths), c.one);
}

INSTANTIATE_TEST_SUITE_P(volumes, windows_file_identity, ::testing::ValuesIn(IDENTITIES),
                         [](const auto& info) { return std::string(info.param.name); });

// A drive's name opened again: only a drive proven to sit where the one found
// sat, with no serial number that differs, is that drive; nothing known is no proof.
TEST(drive_proof, only_a_drive_proven_the_same_is_the_one_found) {
    const drive_identity found{true, "usb1/1-1:1.0/lun0", "KWR3220041"};
    EXPECT_TRUE(proven_same(found, found));
    EXPECT_TRUE(proven_same(found, {true, "usb1/1-1:1.0/lun0", ""}));  // its update firmware gives no number
    EXPECT_FALSE(proven_same(found, {true, "usb2/2-1:1.0/lun0", "KWR3220041"}));
    EXPECT_FALSE(proven_same(found, {true, "usb1/1-1:1.0/lun0", "KWR3220042"}));
    EXPECT_FALSE(proven_same(found, {false, "", ""}));
    EXPECT_FALSE(proven_same({false, "", ""}, {false, "", ""}));
}

// An interrupt held during the first of two drives on each route: that drive
// is updated and recorded so, and the run stops before the second.
TEST(run_record, an_interrupt_changes_no_drive_result) {
    const char* const machines[] = {
        R"("drives": [ { "letter": "E" }, { "letter": "F" } ])",
        R"("host": { "family": "98" }, "aspi": { "adapters": [ "intelata" ] },
           "drives": [ { "adapter": 0, "target": 0 }, { "adapter": 0, "target": 1 } ])",
        R"("host": { "family": "98" }, "aspi": { "adapters": [ "NTMAPHLP" ] },
           "drives": [ { "adapter": 0, "target": 0 }, { "adapter": 0, "target": 1 } ])",
    };
    for (const char* machine : machines) {
        SCOPED_TRACE(machine);
        const std::string scenario = std::string(R"({ "images": [ { "path": "A0013431.128" } ], )") + machine + "}";
        folder_run run(scenario, [](const std::filesystem::path& f) {
            options.yes = true;
            options.log = (f / "runs.log").string();
            sim::current()->cfg.interrupt_in_update = 1;
        });
        EXPECT_EQ(run.exit_code, 5);  // the second drive is for a later run
        ASSERT_EQ(run.records.size(), 4u);
        EXPECT_EQ(run.records[0]["result"], "updating");
        EXPECT_EQ(run.records[1]["result"], "updated");
        EXPECT_EQ(run.records[1]["after_revision"], "1.28");
        EXPECT_EQ(run.records[2]["result"], "not-visited");
        EXPECT_EQ(run.records[3]["record"], "run");
    }
}

}  // namespace

namespace {

// The exit codes a deployment tool acts on, each from a machine of its own,
// and the most urgent winning where two drives tell different things.
struct fleet_case {
    const char* name;
    const char* drives;
    bool check;
    int exit_code;
    const char* image = R"({ "path": "A0013431.128" })";
};

const fleet_case FLEET_CASES[] = {
    {"up_to_date", R"({ "letter": "E", "revision": "1.28" })", false, 0},
    {"updated", R"({ "letter": "E" })", false, 0},
    {"applies", R"({ "letter": "E" })", true, 3},
    {"another_hardware_revision", R"({ "letter": "E", "hardware_revision": "REV00002" })", false, 4},
    {"disc", R"({ "letter": "E", "disc_present": true })", false, 5},
    {"failed_back_in_old_firmware", R"({ "letter": "E", "refuse_block": 3, "refused_block_restarts": true })", false, 1},
    {"left_in_update_firmware", R"({ "letter": "E", "stay_in_update_mode": true })", false, 7},
    {"found_in_update_firmware", R"({ "letter": "E", "starts_in_update_mode": true })", true, 7},
    // Enumeration saw the update firmware; the identity block then could not be read.
    {"found_in_update_firmware_unreadable",
     R"({ "letter": "E", "starts_in_update_mode": true,
          "faults": [ { "command": 4, "kind": "check-condition", "key": 4, "asc": 68, "ascq": 0 } ] })", true, 7},
    // A machine with a drive of this model is judged by it, whatever sits beside it.
    {"up_to_date_and_another_revision",
     R"({ "letter": "E", "revision": "1.28" }, { "letter": "F", "hardware_revision": "REV00002" })", false, 0},
    {"updated_beside_another_revision", R"({ "letter": "E" }, { "letter": "F", "hardware_revision": "REV00002" })",
     false, 0},
    {"disc_and_applies", R"({ "letter": "E", "disc_present": true }, { "letter": "F" })", true, 3},
    {"disc_and_left", R"({ "letter": "E", "disc_present": true }, { "letter": "F", "stay_in_update_mode": true })",
     false, 7},
    // Without the image the check still lists every drive, judged by what it alone shows.
    {"check_without_the_image", R"({ "letter": "E" }, { "letter": "F", "starts_in_update_mode": true })", true, 7, ""},
    {"check_without_the_image_of_normal_drives", R"({ "letter": "E" })", true, 6, ""},
    {"disc_and_failed",
     R"({ "letter": "E", "refuse_block": 3, "refused_block_restarts": true }, { "letter": "F", "disc_present": true })",
     false, 1},
    // The system refused the switch before it left (EPERM): the drive stays in its normal firmware.
    {"switch_refused", R"({ "letter": "E", "faults": [ { "command": 9, "kind": "refused" } ] })", false, 1},
    // A drive the run had no right to open may be one to update: not "nothing here".
    {"no_right_to_the_drive", R"({ "letter": "E", "open_fails": true, "open_error": 1314 })", false, 1},
    {"no_right_to_one_drive",
     R"({ "letter": "E", "open_fails": true, "open_error": 1314 }, { "letter": "F", "revision": "1.28" })", false, 1},
    // An optical drive the system would not open for this user: a right is missing.
    {"access_denied_letter", R"({ "letter": "E", "open_fails": true })", false, 1},
    // Found in its update firmware, whatever else it shows: a person is needed, by the check as by the run.
    {"update_firmware_of_another_revision", R"({ "letter": "E", "starts_in_update_mode": true, "hardware_revision": "REV00002" })",
     true, 7},
    {"update_firmware_of_another_signature", R"({ "letter": "E", "starts_in_update_mode": true, "signature": "XYZ_ADV " })",
     true, 7},
    {"update_firmware_whose_revision_read_fails",
     R"({ "letter": "E", "starts_in_update_mode": true, "faults": [ { "command": 5, "kind": "busy" } ] })", true, 7},
};

// A host that cannot list all its drives never says "nothing here": a drive
// may be there unseen (no memory for the working buffers, an ASPI manager
// that fails or has no adapter, an adapter that refuses every request).
TEST(unlisted_drives, are_not_nothing_here) {
    const char* const machines[] = {
        R"("host": { "fail_allocation": 1 }, "drives": [ { "letter": "E" } ])",
        R"("host": { "family": "98" }, "aspi": { "status": 228 }, "drives": [ { "adapter": 0, "target": 0 } ])",
        R"("host": { "family": "98" }, "aspi": { "adapters": [] }, "drives": [ { "adapter": 0, "target": 0 } ])",
        R"("host": { "family": "98" }, "aspi": { "adapters": [ { "identifier": "ESDI_506", "rejects_requests": true } ] },
           "drives": [ { "adapter": 0, "target": 0 } ])",
    };
    for (const char* machine : machines)
        for (const bool check : {true, false}) {
            SCOPED_TRACE(std::string(machine) + (check ? " --check" : " --yes"));
            folder_run run(std::string(R"({ "images": [ { "path": "A0013431.128" } ], )") + machine + "}",
                           [&](const std::filesystem::path& f) {
                               options.check = check;
                               options.yes = !check;
                               options.log = (f / "runs.log").string();
                           });
            EXPECT_EQ(run.exit_code, EXIT_UPDATE_FAILED);
            ASSERT_FALSE(run.records.empty());
            EXPECT_EQ(run.records.back().value("reason", ""), "drives-not-listed");
        }
}

// A drive the run cannot reach or read is never "nothing here": try again
// later (5), or, when its answers show its update firmware, a person is needed
// (7); by the check and by the update alike, alone and beside another drive.
struct unreached_drive {
    const char* name;
    const char* drive;
    int exit_code;
    const char* word;
    const char* reason = nullptr;  // the reason's word, where the row pins it
};
const unreached_drive UNREACHED_DRIVES[] = {
    {"no_answer", R"("faults": [ { "command": 1, "kind": "timeout" } ])", 5, "unreadable"},
    {"lost_in_transport", R"("faults": [ { "command": 1, "kind": "transport" } ])", 5, "unreadable"},
    {"not_ready", R"("faults": [ { "command": 1, "kind": "check-condition", "key": 2, "asc": 4, "ascq": 1 } ])", 5,
     "unreadable"},
    {"not_ready_after_a_killed_reflash",
     R"("starts_in_update_mode": true, "faults": [ { "command": 1, "kind": "check-condition", "key": 2, "asc": 4, "ascq": 7 } ])",
     5, "unreadable"},
    {"busy", R"("faults": [ { "command": 1, "kind": "busy" } ])", 5, "unreadable"},
    {"device_will_not_open", R"("open_fails": true, "open_error": 1117)", 5, "unreadable"},
    {"held_by_another_program", R"("held_by_another": true)", 5, "unreadable", "in-use"},
    {"identity_unreadable", R"("faults": [ { "command": 2, "kind": "check-condition", "key": 4, "asc": 68, "ascq": 0 } ])",
     5, "unreadable"},
    {"identity_unreadable_in_update_firmware",
     R"("starts_in_update_mode": true, "faults": [ { "command": 2, "kind": "check-condition", "key": 4, "asc": 68, "ascq": 0 } ])",
     7, "update-firmware"},
};

class unreached_drive_run : public ::testing::TestWithParam<std::tuple<unreached_drive, bool, bool>> {};

TEST_P(unreached_drive_run, is_told_and_counted) {
    const auto& [drive, check, beside_another] = GetParam();
    const std::string drives = std::string(R"({ "letter": "E", )") + drive.drive + " }" +
                               (beside_another ? R"(, { "letter": "F", "revision": "1.28" })" : "");
    folder_run run(std::string(R"({ "images": [ { "path": "A0013431.128" } ], "drives": [ )") + drives + " ] }",
                   [&](const std::filesystem::path& folder) {
                       options.check = check;
                       options.yes = !check;
                       options.log = (folder / "runs.log").string();
                   });
    EXPECT_EQ(run.exit_code, drive.exit_code);
    // One final line for each drive, the unreached one with its word and a reason.
    std::vector<nlohmann::json> finals;
    for (const nlohmann::json& r : run.records)
        if (r.value("device", "") == "E:" && r.value("result", "") != "updating") finals.push_back(r);
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].value(check ? "verdict" : "result", ""), drive.word) << finals[0];
    EXPECT_TRUE(finals[0].contains("reason")) << finals[0];
    if (drive.reason) {
        EXPECT_EQ(finals[0].value("reason", ""), drive.reason) << finals[0];
    }
    EXPECT_EQ(run.records.back().value("drives", 0), beside_another ? 2 : 1);
    if (check) EXPECT_NE(run.console.find(std::string("\t") + drive.word + "\n"), std::string::npos) << run.console;
}

INSTANTIATE_TEST_SUITE_P(machines, unreached_drive_run,
                         ::testing::Combine(::testing::ValuesIn(UNREACHED_DRIVES), ::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "_check" : "_yes") +
                                    (std::get<2>(info.param) ? "_beside_another" : "");
                         });

class fleet_exit_code : public ::testing::TestWithParam<fleet_case> {};

TEST_P(fleet_exit_code, is_the_most_urgent_outcome) {
    const fleet_case& c = GetParam();
    const std::string scenario = std::string(R"({ "images": [ )") + c.image + R"( ], "drives": [ )" + c.drives + " ] }";
    folder_run run(scenario, [&](const std::filesystem::path&) {
        options.check = c.check;
        options.yes = !c.check;
    });
    EXPECT_EQ(run.exit_code, c.exit_code);
    if (c.check) {  // a line per drive, whatever the image
        size_t drives = 0;
        for (const char* at = c.drives; (at = std::strstr(at, "\"letter\"")) != nullptr; ++at) ++drives;
        EXPECT_EQ(static_cast<size_t>(std::count(run.console.begin(), run.console.end(), '\n')), drives) << run.console;
    }
}

INSTANTIATE_TEST_SUITE_P(machines, fleet_exit_code, ::testing::ValuesIn(FLEET_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// With --yes or --check into a file, the console is a log: a whole line at
// each tenth of the transfer instead of a carriage return per block, and a
// line break at the end; on a screen the same run keeps its bytes.
TEST(console_as_a_log, is_whole_lines) {
    const auto run_to = [](bool redirected) {
        return folder_run(R"({ "images": [ { "path": "A0013431.128" } ], "drives": [ { "letter": "E" } ] })",
                          [redirected](const std::filesystem::path&) {
                              options.yes = true;
                              sim::current()->cfg.console_redirected = redirected;
                          })
            .console;
    };
    const std::string log = run_to(true), screen = run_to(false);
    // 64 blocks: the first percentage of each tenth (offset times 100 divided by the length).
    EXPECT_NE(log.find("\nProcessing 0%\nProcessing 10%\nProcessing 20%\nProcessing 31%\nProcessing 40%\n"
                       "Processing 50%\nProcessing 60%\nProcessing 70%\nProcessing 81%\nProcessing 90%\n"
                       "Processing 100% --> Data transfer complete\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), std::count(screen.begin(), screen.end(), '\r') - 65);
    EXPECT_EQ(expect::last(log), '\n');
    EXPECT_NE(expect::last(screen), '\n');
}

}  // namespace
