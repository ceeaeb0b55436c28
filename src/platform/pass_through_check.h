// The checks Windows makes on a SCSI_PASS_THROUGH_DIRECT block before it
// reaches a drive, for the hosts that stand in for Windows (the simulated
// host, the Linux host), so both refuse the same blocks.
#pragma once

#include "platform/host.h"

// ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for no block, buffers too small
// for it, a wrong Length, a CDB length outside 1..16, an unknown direction, a
// data length without a buffer, or a sense area that does not lie in the
// output buffer past the structure.
inline DWORD check_pass_through_block(const SCSI_PASS_THROUGH_DIRECT* block, DWORD in_size, DWORD out_size) {
    constexpr DWORD size = sizeof(SCSI_PASS_THROUGH_DIRECT);
    if (block == nullptr || in_size < size || out_size < size || block->Length != size) return ERROR_INVALID_PARAMETER;
    if (block->CdbLength == 0 || block->CdbLength > sizeof block->Cdb) return ERROR_INVALID_PARAMETER;
    if (block->DataIn > SCSI_IOCTL_DATA_UNSPECIFIED) return ERROR_INVALID_PARAMETER;
    if (block->DataTransferLength != 0 && block->DataBuffer == nullptr) return ERROR_INVALID_PARAMETER;
    // The offset is measured against the room left, never added to the
    // length: a sum of the two wraps in 32 bits and lets a wild offset pass.
    if (block->SenseInfoLength != 0 && (block->SenseInfoOffset < size || block->SenseInfoOffset > out_size ||
                                        block->SenseInfoLength > out_size - block->SenseInfoOffset))
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}
