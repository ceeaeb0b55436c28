// Scenario files: what a scenario sets reaches the simulated host, and a
// scenario the simulator cannot honour is refused with a reason, never taken
// with a value that wrapped or was cut.
#include <stdexcept>

#include "test_support.h"
#include "tools/sim/scenario.h"

namespace {

TEST(scenario_reader, fills_the_host_and_its_drives) {
    sim::host h;
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
        sim::host h;
        EXPECT_THROW(sim::load_scenario(h, text, ".", "/nonexistent"), std::runtime_error) << text;
    }
}

}  // namespace
