// A fresh simulated host and clean run state for every test case.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "discovery/enumeration.h"
#include "discovery/host_environment.h"
#include "entry/entry.h"
#include "image/firmware_image.h"
#include "image/revision_checks.h"
#include "platform/sim/sim_host.h"
#include "transport/aspi_host.h"
#include "transport/drive_commands.h"
#include "transport/transport.h"

inline void reset_run_state() {
    reset_entry_state();
    reset_transport_state();
    reset_aspi_host_state();
    reset_drive_commands_state();
    reset_host_environment_state();
    reset_enumeration_state();
    reset_firmware_image_state();
    reset_revision_checks_state();
}

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
