// The route to the drives on Windows 95/98/Me: the working blocks, the ASPI
// manager loaded at run time, and the identifiers of its host adapters.
#pragma once

#include <cstdint>

#include "platform/host.h"

constexpr int MAX_ASPI_ADAPTERS = 16;
constexpr uint32_t ASPI_BLOCK_SIZE = 0x200000;

extern uint8_t adapter_count;
extern uint8_t adapter_identifiers[MAX_ASPI_ADAPTERS][32];
extern GetASPI32SupportInfo_fn get_aspi_support_info;
extern SendASPI32Command_fn send_aspi_command;

// 0 adapters inquired; -1 a working block not allocated; 1 no manager;
// 2 manager failed to initialise; 3 no host adapters.
int aspi_initialize();
int aspi_release();

void reset_aspi_host_state();
