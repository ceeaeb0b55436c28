// Clean run state: every owner's reset, for tests and benchmarks that run the
// updater many times in one process.
#pragma once

#include "discovery/enumeration.h"
#include "discovery/host_environment.h"
#include "entry/entry.h"
#include "entry/options.h"
#include "entry/run_opening.h"
#include "image/firmware_image.h"
#include "image/revision_checks.h"
#include "messages/messages.h"
#include "transport/aspi_adapters.h"
#include "transport/drive_commands.h"
#include "transport/transport.h"
#include "update/update.h"

inline void reset_run_state() {
    reset_entry_state();
    reset_options();
    reset_transport_state();
    reset_aspi_adapters_state();
    reset_drive_commands_state();
    reset_host_environment_state();
    reset_enumeration_state();
    reset_drive_identity_state();
    reset_firmware_image_state();
    reset_update_mode_state();
    reset_revision_checks_state();
    reset_dialogue_state();
}

