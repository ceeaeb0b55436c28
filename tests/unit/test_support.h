// A fresh simulated host and clean run state for every test case.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/sim_host.h"
#include "run_state.h"

class sim_test : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_run_state();
        host.install();
    }
    void TearDown() override { reset_run_state(); }

    sim::machine host;
};

// One target, the drive at E:, with this build's descriptor filled; the drive
// is added by the test with the behaviour it needs.
class one_target_test : public sim_test {
  protected:
    void SetUp() override {
        sim_test::SetUp();
        init_firmware_descriptor();
        target_table[0].drive_letter = 'E';
        target_count = 1;
        current_target = 0;
    }
    emu::virtual_drive& add_drive(const emu::drive_config& config) {
        host.add_drive_at_letter('E', config);
        return host.drive(0);
    }
};

// A simulated host that runs the updater in a fresh temporary folder (where its
// image file goes), removed after the test.
class sim_folder_test : public sim_test {
  protected:
    void SetUp() override {
        sim_test::SetUp();
        char pattern[] = "/tmp/odd-run-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        host.cfg.directory = dir;
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
        sim_test::TearDown();
    }

    std::string dir;
};

// The simulated machine made Windows 98 (or, with minor version 90, Me) with
// an ASPI manager serving `adapters`.
inline void as_windows_9x(sim::machine& h, std::vector<sim::adapter_config> adapters = {}, DWORD minor = 10) {
    h.cfg.platform_id = VER_PLATFORM_WIN32_WINDOWS;
    h.cfg.major_version = 4;
    h.cfg.minor_version = minor;
    h.cfg.aspi_present = true;
    h.cfg.adapters = std::move(adapters);
}

// The ASPI route started and ended as host detection and release do: the
// run's working blocks taken, the manager's adapters inquired and classified.
inline int aspi_start() { return start_aspi_route(working_buffers_of_the_run()); }
inline int aspi_stop() {
    const run_buffers& run = working_buffers_of_the_run();
    return aspi_release(run.aspi_blocks, run.aspi_count);
}

// Bytes as a string, for comparing console output with embedded zero bytes or CR.
inline std::string bytes(const char* text) { return std::string(text); }
