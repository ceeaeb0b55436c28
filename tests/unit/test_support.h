// A fresh simulated host and clean run state for every test case.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

// Bytes as a string, for comparing console output with embedded zero bytes or CR.
inline std::string bytes(const char* text) { return std::string(text); }
