// The switch into the drive's update firmware: the mode block and its access
// value for every signature, the pauses by host, a refused entry, and the check
// of the drive's answer afterwards.
#include <cstring>
#include <string>
#include <vector>

#include "dialogue_expectations.h"
#include "test_support.h"
#include "drive_expectations.h"
#include "update/update.h"

namespace {

using namespace expect;


enum class host_kind { nt, nt_with_intel_key, nine_x, nine_x_with_intel };

class update_mode_base : public sim_test {
  protected:
    // Makes the drive target 0 of a prepared host, its identity block read and
    // the small buffer full of leftovers from an earlier use.
    void attach(const emu::drive_config& config = {}, host_kind kind = host_kind::nt) {
        bool nine_x = kind == host_kind::nine_x || kind == host_kind::nine_x_with_intel;
        if (nine_x) {
            as_windows_9x(host, {{kind == host_kind::nine_x_with_intel ? "intelata" : "ESDI_506"}});
            host.add_drive_at_address(0, 0, config);
        } else {
            if (kind == host_kind::nt_with_intel_key)
                host.cfg.registry_keys = {"SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver"};
            host.add_drive_at_letter('E', config);
        }
        init_firmware_descriptor();
        detect_host_environment(working_buffers_of_the_run());
        prepared = true;
        ASSERT_TRUE(working_buffers_ready());
        target_table[0] = target_record{0, 0, 'E'};
        target_count = 1;
        current_target = 0;
        current_release = firmware_descriptor[0];
        ASSERT_EQ(read_drive_info().code, 0);
        std::memset(small_buffer.address, 0xEE, small_buffer.size);
        host.console.clear();
        host.waits.clear();
    }
    void TearDown() override {
        if (prepared) release_host_environment();
        sim_test::TearDown();
    }
    const emu::command_record& last_command() { return last(host.drive(0).log()); }

    bool prepared = false;
};

// --- the entry command ----------------------------------------------------------

struct access_case {
    const char* name;
    std::string signature;
    uint32_t access_code;
    std::vector<uint8_t> value;  // bytes 16..19 of the mode block
};

class update_mode_entry_access : public update_mode_base, public ::testing::WithParamInterface<access_case> {};

TEST_P(update_mode_entry_access, mode_block_carries_the_signatures_value) {
    const access_case& c = GetParam();
    emu::drive_config config;
    config.signature = c.signature;
    config.access_code = c.access_code;
    attach(config);
    current_release.access_code = c.access_code;

    EXPECT_EQ(enter_update_mode(0x100C), 0);

    const emu::command_record& sent = last_command();
    EXPECT_EQ(hex(sent.cdb), ENTER);
    EXPECT_EQ(sent.direction, emu::DIR_OUT);
    EXPECT_EQ(sent.data_length, 256u);
    EXPECT_EQ(sent.timeout_ms, 10000u);
    EXPECT_EQ(sent.data_out, mode_block(c.value));
    EXPECT_TRUE(host.drive(0).in_update_mode());  // the drive's own check agrees
    EXPECT_EQ(command_timeout_ms, 1000);
    EXPECT_EQ(host.console, "");
}

INSTANTIATE_TEST_SUITE_P(
    signatures, update_mode_entry_access,
    ::testing::Values(access_case{"parvel", "PARVEL  ", 0x5E3A91C4, {0xC9, 0x91, 0x3A, 0x5E}},
                      access_case{"parvel2", "PARVEL2 ", 0x5E3A91C4, {0xC9, 0x91, 0x3A, 0x5E}},
                      access_case{"general", "GENERAL ", 0x5E3A91C4, {0xC9, 0x91, 0x3A, 0x5E}},
                      access_case{"qx47", "QX47    ", 0x5E3A91C4, {0xC9, 0x91, 0x3A, 0x5E}},
                      access_case{"kesto", "KESTO   ", 0x5E3A91C4, {0xC9, 0x91, 0x3A, 0x5E}},
                      access_case{"corvin", "CORVIN  ", 0x5E3A91C4, {0xC7, 0xB2, 0x41, 0x6E}},
                      access_case{"qua_adv", "QUA_ADV ", 0x5E3A91C4, {0xC8, 0x91, 0x3A, 0x5E}},
                      access_case{"orbel", "ORBEL   ", 0x5E3A91C4, {0xC8, 0x91, 0x3A, 0x5E}},
                      access_case{"general_other_tail", "GENERALX", 0x5E3A91C4, {0xC8, 0x91, 0x3A, 0x5E}},
                      access_case{"kesto_other_code", "KESTO   ", 0x01020304, {0x09, 0x03, 0x02, 0x01}},
                      access_case{"corvin_other_code", "CORVIN  ", 0x01020304, {0xC7, 0xB2, 0x41, 0x6E}},
                      access_case{"other_code", "QUA_ADV ", 0x01020304, {0x08, 0x03, 0x02, 0x01}},
                      access_case{"code_wraps", "PARVEL  ", 0xFFFFFFFE, {0x03, 0x00, 0x00, 0x00}}),
    [](const auto& info) { return std::string(info.param.name); });

struct pause_case {
    const char* name;
    host_kind kind;
    std::vector<uint32_t> waits;
};

class update_mode_entry_pause : public update_mode_base, public ::testing::WithParamInterface<pause_case> {};

TEST_P(update_mode_entry_pause, follows_the_entry_unless_9x_with_the_intel_driver) {
    attach({}, GetParam().kind);
    EXPECT_EQ(enter_update_mode(0x100C), 0);
    EXPECT_EQ(host.waits, GetParam().waits);
    EXPECT_TRUE(host.drive(0).in_update_mode());
}

INSTANTIATE_TEST_SUITE_P(hosts, update_mode_entry_pause,
                         ::testing::Values(pause_case{"nt", host_kind::nt, {2000}},
                                           pause_case{"nt_with_intel_key", host_kind::nt_with_intel_key, {2000}},
                                           pause_case{"nine_x", host_kind::nine_x, {2000}},
                                           pause_case{"nine_x_with_intel", host_kind::nine_x_with_intel, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

using update_mode_entry = update_mode_base;

TEST_F(update_mode_entry, refused_entry_reports_message_14_and_the_commands_code) {
    emu::drive_config config;
    config.refuse_entry = true;
    attach(config);

    EXPECT_EQ(enter_update_mode(0x100C), 2);  // CHECK CONDITION through pass-through

    EXPECT_EQ(host.console, "\nFailed to move to the kernel mode.");
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(host.waits.empty());
    EXPECT_EQ(command_timeout_ms, 10000);
    EXPECT_FALSE(host.drive(0).in_update_mode());
}

TEST_F(update_mode_entry, refused_entry_through_aspi_reports_its_code) {
    emu::drive_config config;
    config.refuse_entry = true;
    attach(config, host_kind::nine_x);
    EXPECT_EQ(enter_update_mode(0x100C), -1);
    EXPECT_EQ(host.console, "\nFailed to move to the kernel mode.");
}

TEST_F(update_mode_entry, unknown_model_sends_nothing) {
    attach();
    size_t before = host.drive(0).log().size();
    command_outcome failed;
    failed.kind = outcome_kind::lost;  // what an earlier command could have left
    EXPECT_NE(enter_update_mode(0x2000, &failed), 0);
    // Judged by its own outcome: refused before it left, so the drive was not switched.
    EXPECT_EQ(failed.kind, outcome_kind::refused);
    EXPECT_EQ(host.drive(0).log().size(), before);
    EXPECT_EQ(host.console, "\nFailed to move to the kernel mode.");
}

// --- the entry check ------------------------------------------------------------

using update_mode_check = update_mode_base;

TEST_F(update_mode_check, drive_in_update_firmware_passes_and_sets_the_flag) {
    attach();
    ASSERT_EQ(enter_update_mode(0x100C), 0);
    update_mode = 0;

    EXPECT_EQ(check_update_mode(), 0);

    EXPECT_EQ(update_mode, 1);
    EXPECT_EQ(hex(last_command().cdb), INQUIRY);
    EXPECT_EQ(last_command().timeout_ms, 5000u);
    EXPECT_EQ(host.console, "");
}

struct check_case {
    const char* name;
    bool in_update_firmware;
    std::string vendor;
    std::string product;
    int result;
};

class update_mode_check_answer : public update_mode_base, public ::testing::WithParamInterface<check_case> {};

TEST_P(update_mode_check_answer, needs_revision_000_and_the_model_prefix) {
    const check_case& c = GetParam();
    emu::drive_config config;
    config.starts_in_update_mode = c.in_update_firmware;
    config.vendor = c.vendor;
    config.product = c.product;
    attach(config);
    update_mode = c.result == 0 ? 0 : 1;

    EXPECT_EQ(check_update_mode(), c.result);

    EXPECT_EQ(update_mode, c.result == 0 ? 1 : 0);
    EXPECT_EQ(host.console, "");  // a drive that answers otherwise is not reported here
}

INSTANTIATE_TEST_SUITE_P(
    answers, update_mode_check_answer,
    ::testing::Values(check_case{"update_firmware", true, "QUARLEN ", "DVD-RW  KWR-322 ", 0},
                      check_case{"other_model_number", true, "QUARLEN ", "DVD-RW  KWR-999 ", 0},
                      check_case{"normal_firmware", false, "QUARLEN ", "DVD-RW  KWR-322 ", 1},
                      check_case{"other_vendor", true, "QUARLEX ", "DVD-RW  KWR-322 ", 1},
                      check_case{"other_product", true, "QUARLEN ", "DVD-R   KWR-322 ", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(update_mode_check, failed_inquiry_reports_message_9) {
    emu::drive_config config;
    config.starts_in_update_mode = true;
    emu::injected_fault fault;
    fault.command_number = 2;  // the identity block read was the first
    config.injected = {fault};
    attach(config);
    update_mode = 1;

    EXPECT_EQ(check_update_mode(), -1);

    EXPECT_EQ(host.console, expect::english(9));
    EXPECT_TRUE(host.boxes.empty());
}

}  // namespace
