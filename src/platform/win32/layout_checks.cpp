// The 32-bit layouts the drive route depends on, checked where they are real.
#include <cstddef>

#include "platform/host.h"

#if !defined(_WIN64)
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "pass-through structure");
static_assert(sizeof(SRB_ExecSCSICmd) == 84, "ASPI execute block");
static_assert(sizeof(SRB_HAInquiry) == 60, "ASPI host adapter inquiry block");
static_assert(sizeof(OSVERSIONINFOA) == 148, "version record");
#endif
