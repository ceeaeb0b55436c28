// A fresh simulated host and clean run state for every test case.
#pragma once

#include <gtest/gtest.h>

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

    sim::host host;
};

// Bytes as a string, for comparing console output with embedded zero bytes or CR.
inline std::string bytes(const char* text) { return std::string(text); }
