// The route to the drives on Windows 95/98/Me: the working blocks, the ASPI
// manager loaded at run time, and the identifiers of its host adapters.
#pragma once

#include <cstdint>

#include "platform/host.h"
#include "platform/working_buffer.h"

constexpr int MAX_ASPI_ADAPTERS = 16;
constexpr uint32_t ASPI_BLOCK_SIZE = 0x200000;
// Adapters are told apart by the first 8 bytes of their identifier.
constexpr int ADAPTER_IDENTIFIER_COMPARED = 8;
// The Intel IDE driver's adapter.
constexpr char INTEL_ATA_IDENTIFIER[] = "intelata";

// Host adapters in use: those the manager reports, at most MAX_ASPI_ADAPTERS.
extern uint8_t adapter_count;
// Slot i: the 16-byte identifier of adapter i, then 16 zero bytes.
extern uint8_t adapter_identifiers[MAX_ASPI_ADAPTERS][32];
// Adapters whose host adapter inquiry completed; the others are neither
// classified nor scanned, and their slots stay empty.
extern bool adapter_answered[MAX_ASPI_ADAPTERS];
// One host adapter inquiry record per adapter in use (null before the inquiry).
extern SRB_HAInquiry* adapter_inquiries;
extern GetASPI32SupportInfo_fn get_aspi_support_info;
extern SendASPI32Command_fn send_aspi_command;

// The request blocks the ASPI route sends (one of the run's working blocks).
extern working_buffer request_block_area;

// Takes the `count` working `blocks` (ASPI_BLOCK_SIZE each, in order, the
// request block area among them), loads the manager and inquires its host
// adapters. 0 adapters inquired; -1 a working block not allocated; 1 no
// manager; 2 manager failed to initialise; 3 no host adapters.
int aspi_initialize(working_buffer* const* blocks, int count);
// Frees the working `blocks` (last first) and the inquiry records; the
// manager stays loaded.
int aspi_release(working_buffer* const* blocks, int count);

void reset_aspi_adapters_state();
