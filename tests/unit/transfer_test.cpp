// The transfer of the image in 32 KiB blocks with its progress and completion
// lines, the leave command with its access values and excused failures, and
// the settle wait after it.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "tools/make-image/image_builder.h"
#include "drive_expectations.h"
#include "update/update.h"

namespace {

using namespace expect;

// "\rProcessing 100% --> ﾌｧｰﾑｳｪｱ転送完了\r\n現在ﾄﾞﾗｲﾌﾞ内部でｱｯﾌﾟﾃﾞｰﾄ中です..." in code page 932.
const std::string COMPLETE_JAPANESE =
    "\rProcessing 100% --> \xCC\xA7\xB0\xD1\xB3\xAA\xB1\x93\x5D\x91\x97\x8A\xAE\x97\xB9\r\n\x8C\xBB\x8D\xDD\xC4\xDE"
    "\xD7\xB2\xCC\xDE\x93\xE0\x95\x94\x82\xC5\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\x92\x86\x82\xC5\x82\xB7...";
const std::string REBOOTING = "\rProcessing 100%\r\nNow internal rebooting with new firmware....";
const std::string BLOCK_REFUSED = "\r\nFailed to update the normal part.";
const std::string LEAVE_REFUSED = "\nFailed to move to the normal mode.";

enum class host_kind { nt, nt_firewire, nine_x, nine_x_with_intel };

class transfer_base : public sim_folder_test {
  protected:
    void TearDown() override {
        if (prepared) release_host_environment();
        sim_folder_test::TearDown();
    }
    // Makes a drive already in its update firmware target 0 of a prepared host
    // and loads the image built from `fields`.
    void attach(const image_fields& fields = {}, emu::drive_config config = {}, host_kind kind = host_kind::nt) {
        ASSERT_TRUE(write_image_file(dir + "/A0013431.128", fields));
        config.starts_in_update_mode = true;
        if (kind == host_kind::nine_x || kind == host_kind::nine_x_with_intel) {
            as_windows_9x(host, {{kind == host_kind::nine_x_with_intel ? "intelata" : "ESDI_506"}});
            host.add_drive_at_address(0, 0, config);
        } else {
            sim::drive_slot& slot = host.add_drive_at_letter('E', config);
            if (kind == host_kind::nt_firewire) slot.address_error = ERROR_NOT_SUPPORTED;
        }
        init_firmware_descriptor();
        detect_host_environment(working_buffers_of_the_run());
        prepared = true;
        target_table[0] = target_record{0, 0, 'E'};
        target_count = 1;
        current_target = 0;
        current_release = firmware_descriptor[0];
        ASSERT_EQ(read_drive_info().code, 0);
        ASSERT_EQ(load_image(image), 0);
        host.console.clear();
        host.waits.clear();
    }
    std::vector<std::string> cdbs_from(size_t first) {
        std::vector<std::string> out;
        const auto& log = host.drive(0).log();
        for (size_t i = first; i < log.size(); ++i) out.push_back(hex(log[i].cdb));
        return out;
    }
    size_t commands() { return host.drive(0).log().size(); }

    bool prepared = false;
    loaded_image image;
};

// --- the transfer -------------------------------------------------------------

using transfer_progress = transfer_base;

TEST_F(transfer_progress, two_mib_image_goes_as_64_blocks_with_a_line_before_each) {
    attach();
    size_t before = commands();

    EXPECT_EQ(transfer_image(image), 0);

    EXPECT_EQ(host.console, progress(64) + COMPLETE);
    std::vector<std::string> expected;
    for (uint32_t k = 0; k < 64; ++k) expected.push_back(block_cdb(k * 0x8000, 0x8000));
    EXPECT_EQ(cdbs_from(before), expected);
    for (size_t i = before; i < commands(); ++i) {
        const emu::command_record& r = item(host.drive(0).log(), i);
        EXPECT_EQ(r.timeout_ms, 20000u) << i;
        EXPECT_EQ(r.data_length, 0x8000u) << i;
        EXPECT_EQ(r.direction, emu::DIR_OUT) << i;
        // Straight from the image buffer at the block's offset: no copy.
        EXPECT_EQ(r.data_address, image_buffer.address + (i - before) * 0x8000) << i;
    }
    EXPECT_EQ(host.drive(0).received_image(), build_image(image_fields{}));
    EXPECT_EQ(command_timeout_ms, 20000);
    EXPECT_TRUE(host.waits.empty());
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(transfer_progress, japanese_completion_line) {
    host.cfg.oem_code_page = 932;
    attach();
    oem_code_page = 932;

    EXPECT_EQ(transfer_image(image), 0);

    EXPECT_EQ(host.console, progress(64) + COMPLETE_JAPANESE);
}

TEST_F(transfer_progress, image_of_odd_length_ends_with_a_shorter_block) {
    image_fields fields;
    fields.size = 0x11234;
    attach(fields);
    size_t before = commands();

    EXPECT_EQ(transfer_image(image), 0);

    // 0, 32768 and 65536 of 70196 bytes.
    EXPECT_EQ(host.console, "\n\rProcessing 0%\rProcessing 46%\rProcessing 93%" + COMPLETE);
    EXPECT_EQ(cdbs_from(before),
              (std::vector<std::string>{"3B 07 F0 00 00 00 00 80 00 00", "3B 07 F0 00 80 00 00 80 00 00",
                                        "3B 07 F0 01 00 00 00 12 34 00"}));
    EXPECT_EQ(last(host.drive(0).log()).data_length, 0x1234u);
    EXPECT_EQ(host.drive(0).received_image(), build_image(fields));
}

struct nine_x_case {
    const char* name;
    host_kind kind;
    uint32_t size;
    std::string console;
};

class transfer_on_9x : public transfer_base, public ::testing::WithParamInterface<nine_x_case> {};

TEST_P(transfer_on_9x, intel_driver_replaces_the_last_line_and_the_completion) {
    const nine_x_case& c = GetParam();
    image_fields fields;
    fields.size = c.size;
    attach(fields, {}, c.kind);

    EXPECT_EQ(transfer_image(image), 0);

    EXPECT_EQ(host.console, c.console);
    EXPECT_EQ(host.drive(0).received_image(), build_image(fields));
}

INSTANTIATE_TEST_SUITE_P(
    hosts, transfer_on_9x,
    ::testing::Values(
        nine_x_case{"intel_2mib", host_kind::nine_x_with_intel, 0x200000, progress(63) + REBOOTING},
        nine_x_case{"intel_odd_length", host_kind::nine_x_with_intel, 0x11234,
                    "\n\rProcessing 0%\rProcessing 46%\rProcessing 93%"},
        nine_x_case{"without_intel_2mib", host_kind::nine_x, 0x200000, progress(64) + COMPLETE}),
    [](const auto& info) { return std::string(info.param.name); });

using transfer_refusal = transfer_base;

TEST_F(transfer_refusal, intel_line_and_message_44_come_before_the_last_block) {
    emu::drive_config config;
    config.refuse_block = 63;
    attach({}, config, host_kind::nine_x_with_intel);

    EXPECT_EQ(transfer_image(image), -1);

    // The last block was sent, and refused, after the line and message 44.
    EXPECT_EQ(host.console, progress(63) + REBOOTING + BLOCK_REFUSED);
    EXPECT_EQ(last(host.drive(0).log()).cdb[3], 0x1F);
}

TEST_F(transfer_refusal, refused_block_ends_the_transfer_at_once) {
    emu::drive_config config;
    config.refuse_block = 2;
    attach({}, config);
    size_t before = commands();

    EXPECT_EQ(transfer_image(image), -1);

    EXPECT_EQ(host.console, progress(3) + BLOCK_REFUSED);
    EXPECT_EQ(commands() - before, 3u);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, BLOCK_REFUSED);
    EXPECT_EQ(host.boxes[0].style, MB_OK | MB_ICONHAND);
}

struct guard_case {
    const char* name;
    uint32_t length;
    bool bytes;  // false: a view without bytes
};

class transfer_guard : public transfer_base, public ::testing::WithParamInterface<guard_case> {};

TEST_P(transfer_guard, an_image_not_read_sends_nothing) {
    attach();
    size_t before = commands();
    image.length = GetParam().length;
    if (!GetParam().bytes) image.bytes = nullptr;

    EXPECT_EQ(transfer_image(image), -1);

    EXPECT_EQ(commands(), before);
    EXPECT_EQ(host.console, BLOCK_REFUSED);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].style, MB_OK | MB_ICONHAND);
}

INSTANTIATE_TEST_SUITE_P(lengths, transfer_guard,
                         ::testing::Values(guard_case{"zero", 0, true}, guard_case{"no_bytes", 0x8000, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the leave command ----------------------------------------------------------

struct leave_access_case {
    const char* name;
    std::string signature;
    uint32_t access_code;
    std::vector<uint8_t> value;
};

class transfer_leave_access : public transfer_base, public ::testing::WithParamInterface<leave_access_case> {};

TEST_P(transfer_leave_access, mode_block_carries_the_signatures_value) {
    const leave_access_case& c = GetParam();
    emu::drive_config config;
    config.signature = c.signature;
    config.access_code = c.access_code;
    attach({}, config);
    current_release.access_code = c.access_code;
    ASSERT_EQ(transfer_image(image), 0);
    std::memset(small_buffer.address, 0xEE, small_buffer.size);
    host.console.clear();

    EXPECT_EQ(leave_update_mode(0x100C), 0);

    const emu::command_record& sent = last(host.drive(0).log());
    EXPECT_EQ(hex(sent.cdb), LEAVE);
    EXPECT_EQ(sent.timeout_ms, 180000u);
    EXPECT_EQ(sent.direction, emu::DIR_OUT);
    EXPECT_EQ(sent.data_out, mode_block(c.value));
    EXPECT_EQ(host.drive(0).reflash_count(), 1u);  // the drive's own check agrees
    EXPECT_EQ(command_timeout_ms, 5000);
    EXPECT_EQ(host.waits, std::vector<uint32_t>{3000});
    EXPECT_EQ(host.console, "");
}

INSTANTIATE_TEST_SUITE_P(
    signatures, transfer_leave_access,
    ::testing::Values(leave_access_case{"parvel", "PARVEL  ", 0x5E3A91C4, {0xC9, 0x91, 0x3A, 0x5E}},
                      leave_access_case{"parvel2", "PARVEL2 ", 0x5E3A91C4, {0xC9, 0x91, 0x3A, 0x5E}},
                      leave_access_case{"kesto", "KESTO   ", 0x5E3A91C4, {0xC4, 0x91, 0x3A, 0x5E}},
                      leave_access_case{"general", "GENERAL ", 0x5E3A91C4, {0xC8, 0x91, 0x3A, 0x5E}},
                      leave_access_case{"qx47", "QX47    ", 0x5E3A91C4, {0xC8, 0x91, 0x3A, 0x5E}},
                      leave_access_case{"corvin", "CORVIN  ", 0x5E3A91C4, {0xC8, 0x91, 0x3A, 0x5E}},
                      leave_access_case{"qua_adv", "QUA_ADV ", 0x5E3A91C4, {0xC8, 0x91, 0x3A, 0x5E}},
                      leave_access_case{"kesto_other_code", "KESTO   ", 0x01020304, {0x04, 0x03, 0x02, 0x01}},
                      leave_access_case{"corvin_other_code", "CORVIN  ", 0x01020304, {0x08, 0x03, 0x02, 0x01}},
                      leave_access_case{"code_wraps", "PARVEL2 ", 0xFFFFFFFD, {0x02, 0x00, 0x00, 0x00}}),
    [](const auto& info) { return std::string(info.param.name); });

using transfer_leave = transfer_base;

TEST_F(transfer_leave, scsi_general_drive_gets_5000_ms_and_a_ready_test) {
    attach();
    ASSERT_EQ(transfer_image(image), 0);
    oem_code = 0x300;
    size_t before = commands();

    EXPECT_EQ(leave_update_mode(0x100C), 0);

    EXPECT_EQ(cdbs_from(before), (std::vector<std::string>{LEAVE, READY}));
    EXPECT_EQ(last(host.drive(0).log()).timeout_ms, 5000u);
    EXPECT_EQ(host.waits, std::vector<uint32_t>{5000});
}

TEST_F(transfer_leave, unknown_model_sends_nothing) {
    attach();
    size_t before = commands();
    EXPECT_NE(leave_update_mode(0x2000), 0);
    EXPECT_EQ(commands(), before);
    EXPECT_EQ(host.console, LEAVE_REFUSED);
    EXPECT_TRUE(host.waits.empty());
}

struct refusal_case {
    const char* name;
    host_kind kind;
    int oem;
    uint8_t key;
    int result;  // 0: excused
};

class transfer_leave_refusal : public transfer_base, public ::testing::WithParamInterface<refusal_case> {};

TEST_P(transfer_leave_refusal, is_excused_only_where_the_drive_is_known_to_restart) {
    const refusal_case& c = GetParam();
    emu::drive_config config;
    config.refuse_leave = true;
    config.refuse_leave_key = c.key;
    attach({}, config, c.kind);
    ASSERT_EQ(transfer_image(image), 0);
    oem_code = c.oem;
    host.console.clear();
    size_t before = commands();

    EXPECT_EQ(leave_update_mode(0x100C), c.result);

    EXPECT_EQ(command_timeout_ms, 5000);
    if (c.result == 0) {
        EXPECT_EQ(host.console, "");
        std::vector<std::string> sent = {LEAVE};
        if (c.oem == 0x300) sent.push_back(READY);
        EXPECT_EQ(cdbs_from(before), sent);
        EXPECT_EQ(host.waits, std::vector<uint32_t>{c.oem == 0x300 ? 5000u : 3000u});
    } else {
        EXPECT_EQ(host.console, LEAVE_REFUSED);
        EXPECT_EQ(cdbs_from(before), std::vector<std::string>{LEAVE});
        EXPECT_TRUE(host.waits.empty());
    }
    EXPECT_TRUE(host.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    cases, transfer_leave_refusal,
    ::testing::Values(refusal_case{"plain_drive", host_kind::nt, -1, 0x05, 2},
                      refusal_case{"not_ready_without_firewire", host_kind::nt, -1, 0x02, 2},
                      refusal_case{"scsi_general_on_nt", host_kind::nt, 0x300, 0x05, 0},
                      refusal_case{"scsi_general_on_9x", host_kind::nine_x, 0x300, 0x05, -1},
                      refusal_case{"other_oem_on_nt", host_kind::nt, 0x100, 0x05, 2},
                      refusal_case{"firewire_not_ready", host_kind::nt_firewire, -1, 0x02, 0},
                      refusal_case{"firewire_unit_attention", host_kind::nt_firewire, -1, 0x06, 0},
                      refusal_case{"firewire_illegal_request", host_kind::nt_firewire, -1, 0x05, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the settle wait ------------------------------------------------------------

struct settle_case {
    const char* name;
    int firewire;
    int nine_x;
    int intel;
    int leave_result;
    std::vector<uint32_t> waits;
};

class transfer_settle : public sim_test, public ::testing::WithParamInterface<settle_case> {};

TEST_P(transfer_settle, waits_by_path_and_leave_result) {
    const settle_case& c = GetParam();
    ieee1394_adapter = c.firewire;
    win9x_family = c.nine_x;
    intel_ide_driver = c.intel;

    settle_wait(c.leave_result);

    EXPECT_EQ(host.waits, c.waits);
}

INSTANTIATE_TEST_SUITE_P(
    paths, transfer_settle,
    ::testing::Values(settle_case{"nt_accepted", -1, 0, 0, 0, {}}, settle_case{"nt_refused", -1, 0, 0, 2, {2000}},
                      settle_case{"nt_lost", -1, 0, 0, -1, {2000}},
                      settle_case{"nt_intel_accepted", -1, 0, 1, 0, {}},
                      settle_case{"firewire_accepted", 0, 0, 0, 0, {5000}},
                      settle_case{"firewire_refused", 3, 0, 0, 2, {5000}},
                      settle_case{"nine_x_accepted", -1, 1, 0, 0, {}},
                      settle_case{"nine_x_refused", -1, 1, 0, -1, {2000}},
                      settle_case{"nine_x_intel_accepted", -1, 1, 1, 0, {5000}},
                      settle_case{"nine_x_intel_refused", -1, 1, 1, -1, {5000}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
