// The ASPI host layer on a simulated Windows 98 machine: the manager's support
// information, the working blocks, the adapter inquiries and the classification
// of the adapters.
#include <vector>

#include "test_support.h"

namespace {

const std::string INTEL = "\r\nDetect the Intel's IDE driver.";
const std::string IEEE1394 = "\r\nDetect the IEEE1394 interface.";

class aspi_test : public sim_test {
  protected:
    void SetUp() override {
        sim_test::SetUp();
        as_windows_9x(host, std::vector<sim::adapter_config>(3, {"AHA2940 SCSI BUS"}));
    }
    void expect_all_released() {
        EXPECT_EQ(aspi_stop(), 0);
        EXPECT_EQ(host.live_global_blocks(), 0);
        EXPECT_EQ(adapter_inquiries, nullptr);
        EXPECT_FALSE(working_buffers_ready());
    }
};

struct support_case {
    bool library;
    int status, adapters;  // bits 8-15 and 0-7 of the support information
    int result, adapter_count;
};
class aspi_support_test : public aspi_test, public ::testing::WithParamInterface<support_case> {};

TEST_P(aspi_support_test, support_information_gives_result_and_adapter_count) {
    const support_case c = GetParam();
    host.cfg.aspi_present = c.library;
    host.cfg.aspi_status = c.status;
    host.cfg.aspi_adapter_count = c.adapters;
    EXPECT_EQ(aspi_start(), c.result);
    EXPECT_EQ(adapter_count, c.adapter_count);
    EXPECT_EQ(send_aspi_command != nullptr, c.library);
    EXPECT_EQ(host.live_global_blocks(), 4);
    expect_all_released();
}

INSTANTIATE_TEST_SUITE_P(cases, aspi_support_test,
                         ::testing::Values(support_case{false, 0x01, 2, 1, 0}, support_case{true, 0xE4, 0, 2, 0},
                                           support_case{true, 0xE4, 2, 2, 0}, support_case{true, 0x01, 0, 3, 0},
                                           support_case{true, 0x01, 2, 0, 2}, support_case{true, 0x80, 3, 0, 3}));

class aspi_allocation_test : public aspi_test, public ::testing::WithParamInterface<int> {};

TEST_P(aspi_allocation_test, a_block_that_cannot_be_allocated_ends_initialisation) {
    host.cfg.fail_allocation = GetParam();
    host.cfg.adapters = {{"intelata"}};
    EXPECT_EQ(aspi_start(), -1);
    EXPECT_EQ(host.global_allocations(), GetParam());
    EXPECT_EQ(adapter_count, 0);
    EXPECT_EQ(host.console, "");
    expect_all_released();
}

INSTANTIATE_TEST_SUITE_P(each_block, aspi_allocation_test, ::testing::Range(1, 5));

struct classification_case {
    std::vector<sim::adapter_config> adapters;
    std::string console;
    int intel, ieee1394, adapter_count;
};
class aspi_classification_test : public aspi_test, public ::testing::WithParamInterface<classification_case> {};

TEST_P(aspi_classification_test, adapters_are_classified_by_their_first_eight_bytes) {
    const classification_case& c = GetParam();
    host.cfg.adapters = c.adapters;
    command_timeout_ms = 0;
    intel_ide_driver = 1;
    ieee1394_adapter = 9;
    ASSERT_EQ(aspi_start(), 0);
    EXPECT_EQ(host.console, c.console);
    EXPECT_EQ(intel_ide_driver, c.intel);
    EXPECT_EQ(ieee1394_adapter, c.ieee1394);
    EXPECT_EQ(adapter_count, c.adapter_count);
    EXPECT_EQ(command_timeout_ms, 1000);
    for (int i = 0; i < adapter_count; ++i) {
        std::string slot(reinterpret_cast<const char*>(adapter_identifiers[i]), 32);
        std::string expected = c.adapters[i].inquiry_fails ? "" : c.adapters[i].identifier.substr(0, 16);
        EXPECT_EQ(slot, expected + std::string(32 - expected.size(), '\0')) << "slot " << i;
    }
}

std::vector<sim::adapter_config> twenty_adapters() {
    std::vector<sim::adapter_config> adapters(20, {"AHA2940 SCSI BUS"});
    adapters[15].identifier = "NTMAPHLP";
    adapters[16].identifier = "intelata";
    adapters[19].identifier = "ntmaphlp";
    return adapters;
}

// A failed inquiry leaves an empty identifier, which would read as IEEE 1394.
INSTANTIATE_TEST_SUITE_P(
    cases, aspi_classification_test,
    ::testing::Values(classification_case{{{"intelata"}, {"NTMAPHLP"}}, INTEL + IEEE1394, 1, 1, 2},
                      classification_case{{{"AHA2940"}, {"ntmaphlp 1394 HA"}}, IEEE1394, 0, 1, 2},
                      classification_case{{{"NTMapHlp"}, {"ntmaphlP"}, {"NTMAPHLQ"}}, "", 0, -1, 3},
                      classification_case{{{std::string(8, '\0') + "TAIL"}}, IEEE1394, 0, 0, 1},
                      classification_case{{{"        "}}, IEEE1394, 0, 0, 1},
                      classification_case{{{"NTMAPHLP"}, {"AHA2940"}, {"ntmaphlp"}}, IEEE1394 + IEEE1394, 0, 2, 3},
                      classification_case{{{"intelata"}, {"intelata"}}, INTEL, 1, -1, 2},
                      classification_case{{{"intelataNTMAPHLP"}}, INTEL, 1, -1, 1},
                      classification_case{{{"AHA2940"}, {"", true}, {"NTMAPHLP"}, {"", true}}, IEEE1394, 0, 2, 4},
                      classification_case{twenty_adapters(), IEEE1394, 0, 15, 16}));

}  // namespace
