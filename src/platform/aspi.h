// The ASPI for Win32 request blocks and codes, byte-packed as the manager reads
// them. On the 32-bit Windows build the execute block is 84 bytes and the host
// adapter inquiry 60; other builds keep the field order with native pointers.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include "platform/win_types.h"
#endif

constexpr BYTE SC_HA_INQUIRY = 0x00;
constexpr BYTE SC_GET_DEV_TYPE = 0x01;
constexpr BYTE SC_EXEC_SCSI_CMD = 0x02;
constexpr BYTE SC_ABORT_SRB = 0x03;

constexpr BYTE SS_PENDING = 0x00;
constexpr BYTE SS_COMP = 0x01;
constexpr BYTE SS_ABORTED = 0x02;
constexpr BYTE SS_ERR = 0x04;
constexpr BYTE SS_INVALID_CMD = 0x80;
constexpr BYTE SS_INVALID_HA = 0x81;
constexpr BYTE SS_NO_DEVICE = 0x82;
constexpr BYTE SS_INVALID_SRB = 0xE0;
constexpr BYTE SS_FAILED_INIT = 0xE4;
constexpr BYTE SS_NO_ADAPTERS = 0xE8;

constexpr BYTE SRB_DIR_IN = 0x08;
constexpr BYTE SRB_DIR_OUT = 0x10;
constexpr BYTE SRB_EVENT_NOTIFY = 0x40;

#pragma pack(push, 1)
struct SRB_HAInquiry {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE HA_Count;
    BYTE HA_SCSI_ID;
    BYTE HA_ManagerId[16];
    BYTE HA_Identifier[16];
    BYTE HA_Unique[16];
    WORD HA_Rsvd1;
};

// The manager's own knowledge of a device: its peripheral type, with no
// command to the device.
struct SRB_GDEVBlock {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_DeviceType;
    BYTE SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE* SRB_BufPointer;
    BYTE SRB_SenseLen;
    BYTE SRB_CDBLen;
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    void* SRB_PostProc;
    BYTE SRB_Rsvd2[20];
    BYTE CDBByte[16];
    BYTE SenseArea[20];
};

struct SRB_Abort {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};
#pragma pack(pop)

// Both entry points of the manager use the C calling convention.
using GetASPI32SupportInfo_fn = DWORD(__cdecl*)(void);
using SendASPI32Command_fn = DWORD(__cdecl*)(void* request_block);

constexpr int ASPI_ORDINAL_SUPPORT_INFO = 1;
constexpr int ASPI_ORDINAL_SEND_COMMAND = 2;

static_assert(sizeof(SRB_HAInquiry) == 60, "host adapter inquiry block");
static_assert(sizeof(SRB_GDEVBlock) == 12, "device type block");
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SRB_ExecSCSICmd) == 84, "execute block");
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48, "CDB in the execute block");
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64, "sense in the execute block");
#endif
