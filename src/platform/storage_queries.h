// Answers to the two storage queries a host makes up for where no Windows
// port driver answers them (the simulated host, the Linux host): the
// capabilities of an ATAPI port and a SCSI address for a drive that has one.
#pragma once

#include <cstring>

#include "platform/host.h"

// False when `out` cannot hold the record.
inline bool answer_capabilities(LPVOID out, DWORD out_size, LPDWORD returned) {
    if (!out || out_size < sizeof(IO_SCSI_CAPABILITIES)) return false;
    IO_SCSI_CAPABILITIES capabilities{};
    capabilities.Length = sizeof capabilities;
    capabilities.MaximumTransferLength = 0x10000;
    capabilities.MaximumPhysicalPages = 17;
    std::memcpy(out, &capabilities, sizeof capabilities);
    if (returned) *returned = sizeof capabilities;
    return true;
}

inline bool answer_address(UCHAR port, LPVOID out, DWORD out_size, LPDWORD returned) {
    if (!out || out_size < sizeof(SCSI_ADDRESS)) return false;
    SCSI_ADDRESS address{};
    address.Length = sizeof address;
    address.PortNumber = port;
    std::memcpy(out, &address, sizeof address);
    if (returned) *returned = sizeof address;
    return true;
}
