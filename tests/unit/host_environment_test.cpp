// Host detection on simulated machines: the Windows family and the route and
// buffers it takes, the Intel IDE driver keys, and runs whose buffers cannot
// all be allocated.
#include <vector>

#include "test_support.h"

namespace {

constexpr uint32_t MIB = 0x100000;
const std::string INTEL = "\r\nDetect the Intel's IDE driver.";
const std::string NO_TARGET = "\r\nAvailable target is not found.";

void set_version(sim::machine& host, DWORD platform, DWORD major, DWORD minor) {
    host.cfg.platform_id = platform;
    host.cfg.major_version = major;
    host.cfg.minor_version = minor;
}

struct family_case {
    DWORD platform, major, minor;
    int win9x;
};
class family_test : public sim_test, public ::testing::WithParamInterface<family_case> {};

// The ASPI route takes four zeroed blocks of 2 MiB; the pass-through route
// 2 MiB, 8 MiB and 512 bytes and no request-block area.
TEST_P(family_test, version_decides_the_route_and_its_buffers) {
    const family_case c = GetParam();
    set_version(host, c.platform, c.major, c.minor);
    host.cfg.aspi_present = true;
    host.cfg.adapters = {{"AHA2940 SCSI BUS"}};
    detect_host_environment(working_buffers_of_the_run());

    EXPECT_EQ(win9x_family, c.win9x);
    EXPECT_EQ(command_timeout_ms, 1000);
    EXPECT_EQ(host.global_allocations(), c.win9x ? 4 : 3);
    const working_buffer* buffers[] = {&drive_data_buffer, &image_buffer, &small_buffer, &request_block_area};
    const uint32_t sizes[] = {2 * MIB, c.win9x ? 2 * MIB : 8 * MIB, c.win9x ? 2 * MIB : 512, c.win9x ? 2 * MIB : 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(buffers[i]->size, sizes[i]) << "buffer " << i;
        if (sizes[i] != 0) {
            EXPECT_EQ(host.blocks_.at(reinterpret_cast<uintptr_t>(buffers[i]->memory)), std::vector<uint8_t>(sizes[i]));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(versions, family_test,
                         ::testing::Values(family_case{1, 4, 0, 1}, family_case{1, 4, 10, 1}, family_case{1, 4, 90, 1},
                                           family_case{1, 4, 5, 0}, family_case{2, 4, 0, 0}, family_case{2, 5, 0, 0},
                                           family_case{2, 5, 1, 0}, family_case{2, 6, 1, 0}, family_case{2, 10, 0, 0},
                                           family_case{2, 4, 10, 0}, family_case{0, 3, 10, 0}));

struct intel_keys_case {
    std::vector<std::string> keys;
    int messages;
    int flag;
};
class intel_keys_test : public sim_test, public ::testing::WithParamInterface<intel_keys_case> {};

TEST_P(intel_keys_test, each_key_is_announced_and_only_the_ata_driver_sets_the_flag) {
    host.cfg.registry_keys = GetParam().keys;
    intel_ide_driver = 1;
    ASSERT_EQ(init_nt_host(working_buffers_of_the_run()), 0);
    std::string expected;
    for (int i = 0; i < GetParam().messages; ++i) expected += INTEL;
    EXPECT_EQ(host.console, expected);
    EXPECT_EQ(intel_ide_driver, GetParam().flag);
    EXPECT_EQ(host.open_keys(), 0);
}

const std::string ACCELERATOR = "SOFTWARE\\INTEL\\Intel Application Accelerator";
const std::string ULTRA_ATA = "SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver";
INSTANTIATE_TEST_SUITE_P(keys, intel_keys_test,
                         ::testing::Values(intel_keys_case{{}, 0, 0}, intel_keys_case{{ACCELERATOR}, 1, 0},
                                           intel_keys_case{{ULTRA_ATA}, 1, 1},
                                           intel_keys_case{{ACCELERATOR, ULTRA_ATA}, 2, 1},
                                           intel_keys_case{{"SOFTWARE\\INTEL\\Intel Matrix Storage"}, 0, 0}));

struct failing_allocation_case {
    bool win9x;
    int failing;
};
class failing_allocation_test : public sim_test, public ::testing::WithParamInterface<failing_allocation_case> {};

TEST_P(failing_allocation_test, run_without_a_buffer_finds_no_target_and_leaks_nothing) {
    const failing_allocation_case c = GetParam();
    if (c.win9x) {
        set_version(host, 1, 4, 90);
        host.cfg.aspi_present = true;
        host.cfg.adapters = {{"intelata"}};
        host.add_drive_at_address(0, 0);
    } else {
        host.add_drive_at_letter('E');
    }
    host.cfg.fail_allocation = c.failing;

    EXPECT_EQ(updater_main(0, nullptr), 1);
    EXPECT_EQ(host.global_allocations(), c.failing) << "allocation went on after a failure";
    EXPECT_FALSE(working_buffers_ready());
    EXPECT_EQ(host.console.substr(host.console.size() - NO_TARGET.size()), NO_TARGET);
    EXPECT_TRUE(host.drive(0).log().empty());
    EXPECT_EQ(host.live_global_blocks(), 0);
    EXPECT_EQ(host.open_handles() + host.open_events(), 0);
}

INSTANTIATE_TEST_SUITE_P(each_allocation, failing_allocation_test,
                         ::testing::Values(failing_allocation_case{false, 1}, failing_allocation_case{false, 2},
                                           failing_allocation_case{false, 3}, failing_allocation_case{true, 1},
                                           failing_allocation_case{true, 2}, failing_allocation_case{true, 3},
                                           failing_allocation_case{true, 4}));

}  // namespace
