// The Linux host's pass-through: one SCSI_PASS_THROUGH_DIRECT block becomes one
// SG_IO request and its outcome is written back into the block as Windows
// would, with the sense data in fixed format whatever format the drive used.
#pragma once

#include <scsi/sg.h>

#include <cstddef>
#include <cstdint>

#include "platform/win_types.h"

// Sense bytes the host asks the kernel for; the block's own area is no larger.
constexpr size_t SG_SENSE_CAPACITY = 32;
constexpr size_t FIXED_SENSE_LENGTH = 18;

// Fills `request` from `block` (read from the caller's input buffer), with
// `sense` (SG_SENSE_CAPACITY bytes) as the sense buffer. Returns
// ERROR_SUCCESS, or the Windows error that refuses the block before anything
// is sent: ERROR_INVALID_PARAMETER for buffers too small for the block, a
// wrong Length, a CDB length outside 1..16, an unknown direction, a data
// length without a buffer, a sense area outside the output buffer, or data
// of unspecified direction (the kernel carries no such transfer).
DWORD prepare_sg_io(const SCSI_PASS_THROUGH_DIRECT& block, DWORD in_size, DWORD out_size, sg_io_hdr_t& request,
                    uint8_t* sense);

// Writes the outcome of a completed SG_IO into `block`, which starts the
// caller's output buffer of `out_size` bytes: ScsiStatus, the bytes moved,
// and at most the requested SenseInfoLength sense bytes at SenseInfoOffset,
// turned into fixed format. Returns ERROR_SUCCESS, or the error the call
// fails with when the command did not end at the drive: ERROR_SEM_TIMEOUT for
// a time-out reported by the host adapter or the driver, ERROR_IO_DEVICE for
// a reset or any other host or driver failure. On failure the block is left
// as it was.
DWORD finish_sg_io(const sg_io_hdr_t& request, SCSI_PASS_THROUGH_DIRECT& block, DWORD out_size);

// The Windows error for a failed SG_IO or open() errno.
DWORD error_for_errno(int error);

// Copies `length` sense bytes into `fixed` (`capacity` bytes), turning
// descriptor format (response codes 0x72, 0x73) into fixed format (0x70,
// 0x71): sense key, ASC and ASCQ, and the information, command-specific,
// sense-key-specific, stream and block descriptors that fixed format can
// hold. Fixed-format and unknown sense is copied as it is. Returns the
// number of bytes written.
size_t fixed_format_sense(const uint8_t* sense, size_t length, uint8_t* fixed, size_t capacity);
