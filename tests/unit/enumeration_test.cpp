// Finding the drives to update on simulated hosts: the drive letters of a
// pass-through host and the notification control of its CD/DVD drives, the
// host adapters of an ASPI host, model identification, and whole runs that
// announce the targets and hand everything back on every way out.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "test_support.h"
#include "tools/make-image/image_builder.h"

namespace {

using enumeration_test = sim_test;
const std::string NO_TARGET_MESSAGE = "\r\nAvailable target is not found.";

struct drive_row {
    char letter;
    uint8_t peripheral = 0x05;
    std::string vendor = "QUARLEN ";
    std::string product = "DVD-RW  KWR-322 ";
    std::string signature = "QUARLEN ";
    std::string update_vendor = "QUA_ADV ";
    bool readable = true;
};

emu::drive_config config_of(const drive_row& d) {
    emu::drive_config c;
    c.peripheral = d.peripheral;
    c.vendor = d.vendor;
    c.product = d.product;
    c.signature = d.signature;
    c.update_vendor = d.update_vendor;
    c.identity_readable = d.readable;
    return c;
}

struct letters_case {
    std::vector<drive_row> drives;
    std::string targets;   // letters in table order
    std::string notified;  // letters whose notification was turned off, in order
};
class letters_test : public sim_test, public ::testing::WithParamInterface<letters_case> {};

TEST_P(letters_test, matching_drives_become_targets_and_cd_drives_lose_notification) {
    for (const drive_row& d : GetParam().drives) host.add_drive_at_letter(d.letter, config_of(d));
    init_firmware_descriptor();
    detect_host_environment(working_buffers_of_the_run());
    const int found = enumerate_targets(descriptor_rows());

    std::string targets, notified;
    for (int i = 0; i < target_count; ++i) targets += target_table[i].drive_letter;
    for (const sim::notification_request& r : host.notifications) {
        EXPECT_EQ(r.flag, 1);
        notified += r.path.substr(4, 1);
    }
    EXPECT_EQ(found, target_count);
    EXPECT_EQ(targets, GetParam().targets);
    EXPECT_EQ(notified, GetParam().notified);
    EXPECT_EQ(current_target, std::max(target_count - 1, 0));
    for (size_t i = 0; i < host.drives.size(); ++i)
        EXPECT_TRUE(host.drives[i].letter >= 'D' || host.drive(i).log().empty()) << host.drives[i].name;
    EXPECT_EQ(host.open_handles(), static_cast<int>(notified.size()));
}

const drive_row FOREIGN_CD{'F', 0x05, "OTHERCO ", "CD-ROM CDR-8    "};
INSTANTIATE_TEST_SUITE_P(
    cases, letters_test,
    ::testing::Values(letters_case{{{'A'}, {'C'}, {'Z'}}, "Z", "Z"},
                      letters_case{{{'E'}, FOREIGN_CD, {'G'}}, "EG", "EFG"},
                      letters_case{{FOREIGN_CD}, "", "F"},
                      letters_case{{{'F', 0x04, "OTHERCO "}}, "", "F"},
                      letters_case{{{'F', 0x25}}, "F", ""},
                      letters_case{{{'F', 0x00, "OTHERCO "}}, "", ""},
                      letters_case{{{'E', 0x05, "QUARLEN ", "DVD-RW  KWR-322D"}}, "E", "E"},
                      letters_case{{{'E', 0x05, "QUARLEN ", "DVD-RW  KWR-322X"}}, "", "E"},
                      letters_case{{{'E', 0x05, "QUARLEN ", "DVD-RW  KWR-322 ", "QUA_ADV ", "        "}}, "E", "E"},
                      letters_case{{{'E', 0x05, "QUARLEN ", "DVD-RW  KWR-322 ", "GENERAL ", "        "}}, "", "E"},
                      letters_case{{{'E', 0x05, "QUARLEN ", "DVD-RW  KWR-322 ", "QUA_ADV ", "OTHERVND"}}, "", "E"},
                      letters_case{{{'E', 0x05, "QUARLEN ", "DVD-RW  KWR-322 ", "QUA_ADV ", "QUA_ADV ", false}},
                                   "", "E"}));

TEST_F(enumeration_test, update_vendor_decides_only_for_two_model_families) {
    init_firmware_descriptor();
    uint8_t inquiry_data[96] = {};
    std::memcpy(inquiry_data + 8, "QUARLEN DVD-RW  KWR-322 ", 24);
    const std::pair<uint32_t, int> codes[] = {{0x100C, -1}, {0x4000, -1}, {0x14000, -1}, {0x2000, 0}, {0x110C, 0}};
    for (const auto& [code, row] : codes) {
        firmware_descriptor[0].model_code = code;
        EXPECT_EQ(identify_model(inquiry_data, descriptor_rows()), row) << std::hex << code;
    }
}

struct adapters_case {
    std::vector<sim::adapter_config> adapters;
    std::vector<std::pair<int, int>> drives;   // every drive matches
    std::vector<std::pair<int, int>> targets;  // the drives left out must not be scanned
};
class adapters_test : public sim_test, public ::testing::WithParamInterface<adapters_case> {};

TEST_P(adapters_test, adapters_are_scanned_by_their_kind) {
    as_windows_9x(host, GetParam().adapters);
    for (const auto& [adapter, id] : GetParam().drives) host.add_drive_at_address(adapter, id);
    init_firmware_descriptor();
    detect_host_environment(working_buffers_of_the_run());

    EXPECT_EQ(enumerate_targets(descriptor_rows()), static_cast<int>(GetParam().targets.size()));
    std::vector<std::pair<int, int>> targets;
    for (int i = 0; i < target_count; ++i) targets.emplace_back(target_table[i].host_adapter, target_table[i].target_id);
    EXPECT_EQ(targets, GetParam().targets);
    for (size_t i = 0; i < host.drives.size(); ++i) {
        const bool target = std::count(targets.begin(), targets.end(), GetParam().drives[i]) != 0;
        EXPECT_EQ(host.drive(i).log().empty(), !target) << host.drives[i].name;
    }
}

const sim::adapter_config SCSI{"AHA2940 SCSI BUS"};
INSTANTIATE_TEST_SUITE_P(
    cases, adapters_test,
    ::testing::Values(adapters_case{{{"intelata"}, SCSI}, {{0, 0}, {1, 0}, {1, 3}}, {{0, 0}}},
                      adapters_case{{SCSI, {"intelata"}}, {{0, 2}, {1, 1}}, {{1, 1}}},
                      adapters_case{{SCSI},
                                    {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 6}, {0, 7}},
                                    {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 6}}},
                      adapters_case{{{"ESDI_506"}}, {{0, 0}, {0, 1}, {0, 2}}, {{0, 0}, {0, 1}}},
                      adapters_case{{{"ESDI_506"}, SCSI, {"NTMAPHLP"}}, {{1, 4}, {0, 0}, {2, 5}}, {{0, 0}, {1, 4}, {2, 5}}},
                      adapters_case{{SCSI, {"AHA2940 SCSI BUS", true}}, {{0, 0}, {1, 0}}, {{0, 0}}},
                      adapters_case{std::vector<sim::adapter_config>(18, SCSI), {{15, 0}, {16, 0}}, {{15, 0}}}));

// --- whole runs -----------------------------------------------------------------------

enum way_out { NO_TARGET, STOP, END };

struct run_case {
    bool win9x;
    way_out way;
    int exit_code;
};
class run_test : public sim_folder_test, public ::testing::WithParamInterface<run_case> {};

std::vector<uintptr_t> freed;
const host_calls* simulated = nullptr;

// Without an image file the first target stops the run; with one, No to every
// question leaves each target alone and the loop runs to its end.
TEST_P(run_test, targets_are_announced_and_everything_is_handed_back_once) {
    const run_case c = GetParam();
    drive_row foreign{'F', 0x05, "OTHERCO "};
    if (c.win9x) {
        as_windows_9x(host, c.way != NO_TARGET ? std::vector<sim::adapter_config>{SCSI} : std::vector<sim::adapter_config>{},
                      90);
        for (int id : {1, 2, 4}) host.add_drive_at_address(0, id, config_of(id == 2 ? foreign : drive_row{}));
    } else {
        host.add_drive_at_letter('F', config_of(foreign));
        if (c.way != NO_TARGET) {
            host.add_drive_at_letter('E');
            host.add_drive_at_letter('G');
        }
    }
    if (c.way != STOP) {
        ASSERT_TRUE(write_image_file(dir + "/A0013431.128", image_fields{}));
    }
    host.cfg.answers.assign(8, IDNO);
    host_calls recording = *installed_host;
    simulated = installed_host;
    freed.clear();
    recording.GlobalFree = [](HGLOBAL memory) {
        freed.push_back(reinterpret_cast<uintptr_t>(memory));
        return simulated->GlobalFree(memory);
    };
    install_host(&recording);

    EXPECT_EQ(updater_main(0, nullptr), c.exit_code);

    install_host(simulated);
    const std::string question = "\r\n2 target device(s) is found.\r\nDo you want to update all drives ?";
    EXPECT_EQ(!host.boxes.empty() && host.boxes[0].text == question, c.way != NO_TARGET);
    const size_t first = host.console.find("\r\nStart updating the device No.1.");
    const size_t second = host.console.find("\r\nStart updating the device No.2.");
    EXPECT_EQ(first != std::string::npos, c.way != NO_TARGET);
    EXPECT_EQ(second != std::string::npos, c.way == END);
    EXPECT_TRUE(c.way != END || first < second);
    const size_t no_target = host.console.rfind(NO_TARGET_MESSAGE);
    EXPECT_EQ(no_target != std::string::npos && no_target + NO_TARGET_MESSAGE.size() == host.console.size(),
              c.way == NO_TARGET);

    // Each block freed once, the last taken first.
    EXPECT_EQ(static_cast<int>(freed.size()), host.global_allocations());
    EXPECT_TRUE(std::is_sorted(freed.rbegin(), freed.rend()) &&
                std::adjacent_find(freed.begin(), freed.end()) == freed.end());
    EXPECT_EQ(host.live_global_blocks(), 0);
    std::map<HANDLE, std::vector<int>> flags;
    for (const sim::notification_request& r : host.notifications) flags[r.handle].push_back(r.flag);
    EXPECT_EQ(flags.size(), c.win9x ? 0u : c.way == NO_TARGET ? 1u : 3u);
    for (const auto& [handle, sequence] : flags) EXPECT_EQ(sequence, (std::vector<int>{1, 0}));
    EXPECT_EQ(host.open_handles() + host.open_events() + host.open_keys(), 0);
}

INSTANTIATE_TEST_SUITE_P(ways_out, run_test,
                         ::testing::Values(run_case{false, NO_TARGET, 1}, run_case{false, STOP, 1},
                                           run_case{false, END, 0}, run_case{true, NO_TARGET, 1},
                                           run_case{true, STOP, 1}, run_case{true, END, 0}));

TEST_F(enumeration_test, notification_control_of_a_device_that_cannot_be_opened_keeps_no_handle) {
    EXPECT_EQ(take_notification_control('K'), 0);
    ASSERT_EQ(notification_count, 1);
    EXPECT_EQ(notification_table[0].handle, INVALID_HANDLE_VALUE);
    release_notification_control();
    EXPECT_TRUE(host.notifications.empty());
}

}  // namespace
