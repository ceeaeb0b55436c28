// Pass-through block to SG_IO and back, and the sense format conversion.
#include "platform/linux/sg_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/pass_through_check.h"

namespace {

// The host byte and driver byte values of the Linux SCSI midlayer.
constexpr unsigned HOST_TIME_OUT = 0x03;  // DID_TIME_OUT
constexpr unsigned DRIVER_CODE_MASK = 0x07;  // DRIVER_SENSE (0x08) only says sense is there
constexpr unsigned DRIVER_TIMEOUT = 0x06;

constexpr uint8_t FIXED_CURRENT = 0x70;
constexpr uint8_t FIXED_DEFERRED = 0x71;
constexpr uint8_t DESCRIPTOR_CURRENT = 0x72;
constexpr uint8_t DESCRIPTOR_DEFERRED = 0x73;

constexpr uint8_t DESCRIPTOR_INFORMATION = 0x00;
constexpr uint8_t DESCRIPTOR_COMMAND_SPECIFIC = 0x01;
constexpr uint8_t DESCRIPTOR_SENSE_KEY_SPECIFIC = 0x02;
constexpr uint8_t DESCRIPTOR_STREAM = 0x04;
constexpr uint8_t DESCRIPTOR_BLOCK = 0x05;

// The low 32 bits of an 8-byte field, or false when the high bits are in use
// (fixed format has only four bytes for it).
bool low_word(const uint8_t* field8, uint8_t* out4) {
    if (field8[0] | field8[1] | field8[2] | field8[3]) return false;
    std::memcpy(out4, field8 + 4, 4);
    return true;
}

}  // namespace

DWORD error_for_errno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
    case EFAULT: return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case ENOSYS: return ERROR_INVALID_FUNCTION;
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    case EIO: return ERROR_IO_DEVICE;
    default: return ERROR_GEN_FAILURE;
    }
}

size_t fixed_format_sense(const uint8_t* sense, size_t length, uint8_t* fixed, size_t capacity) {
    const uint8_t code = length ? sense[0] & 0x7F : 0;
    if (code != DESCRIPTOR_CURRENT && code != DESCRIPTOR_DEFERRED) {
        const size_t n = std::min(length, capacity);
        std::memcpy(fixed, sense, n);
        return n;
    }
    uint8_t out[FIXED_SENSE_LENGTH] = {};
    out[0] = code == DESCRIPTOR_CURRENT ? FIXED_CURRENT : FIXED_DEFERRED;
    out[2] = length > 1 ? sense[1] & 0x0F : 0;
    out[7] = FIXED_SENSE_LENGTH - 8;
    out[12] = length > 2 ? sense[2] : 0;
    out[13] = length > 3 ? sense[3] : 0;
    const size_t end = length > 7 ? std::min(length, size_t{8} + sense[7]) : std::min<size_t>(length, 8);
    for (size_t at = 8; at + 2 <= end;) {
        const uint8_t type = sense[at];
        const size_t size = size_t{2} + sense[at + 1];
        if (at + size > end) break;
        const uint8_t* d = sense + at;
        switch (type) {
        case DESCRIPTOR_INFORMATION:
            if (size >= 12 && low_word(d + 4, out + 3) && (d[2] & 0x80)) out[0] |= 0x80;
            break;
        case DESCRIPTOR_COMMAND_SPECIFIC:
            if (size >= 12) low_word(d + 4, out + 8);
            break;
        case DESCRIPTOR_SENSE_KEY_SPECIFIC:
            if (size >= 7) std::memcpy(out + 15, d + 4, 3);
            break;
        case DESCRIPTOR_STREAM:
            if (size >= 4) out[2] |= d[3] & 0xE0;  // FILEMARK, EOM, ILI
            break;
        case DESCRIPTOR_BLOCK:
            if (size >= 4) out[2] |= d[3] & 0x20;  // ILI
            break;
        default: break;
        }
        at += size;
    }
    const size_t n = std::min(sizeof out, capacity);
    std::memcpy(fixed, out, n);
    return n;
}

DWORD prepare_sg_io(const SCSI_PASS_THROUGH_DIRECT& block, DWORD in_size, DWORD out_size, sg_io_hdr_t& request,
                    uint8_t* sense) {
    if (DWORD error = check_pass_through_block(&block, in_size, out_size); error != ERROR_SUCCESS) return error;

    std::memset(&request, 0, sizeof request);
    request.interface_id = 'S';
    if (block.DataTransferLength == 0) {
        request.dxfer_direction = SG_DXFER_NONE;
    } else {
        switch (block.DataIn) {
        case SCSI_IOCTL_DATA_IN: request.dxfer_direction = SG_DXFER_FROM_DEV; break;
        case SCSI_IOCTL_DATA_OUT: request.dxfer_direction = SG_DXFER_TO_DEV; break;
        default: return ERROR_INVALID_PARAMETER;
        }
        request.dxfer_len = block.DataTransferLength;
        request.dxferp = block.DataBuffer;
    }
    request.cmd_len = block.CdbLength;
    request.cmdp = const_cast<unsigned char*>(block.Cdb);
    request.mx_sb_len = SG_SENSE_CAPACITY;
    request.sbp = sense;
    // No time-out given means the port's own 60 s, said here rather than left to the kernel.
    const uint64_t seconds = block.TimeOutValue != 0 ? block.TimeOutValue : 60;
    request.timeout = static_cast<unsigned>(std::min<uint64_t>(seconds * 1000u, UINT_MAX));
    return ERROR_SUCCESS;
}

DWORD finish_sg_io(const sg_io_hdr_t& request, SCSI_PASS_THROUGH_DIRECT& block, DWORD out_size) {
    const unsigned driver = request.driver_status & DRIVER_CODE_MASK;
    if (request.host_status == HOST_TIME_OUT || driver == DRIVER_TIMEOUT) return ERROR_SEM_TIMEOUT;
    // A reset, a lost connection or an adapter error: the drive's own answer,
    // if any, never arrived, so nothing in the block may be taken for one.
    if (request.host_status != 0 || driver != 0) return ERROR_IO_DEVICE;

    block.ScsiStatus = request.status;
    const int resid = std::clamp(request.resid, 0, static_cast<int>(request.dxfer_len));
    block.DataTransferLength = request.dxfer_len - static_cast<unsigned>(resid);
    size_t delivered = 0;
    if (block.SenseInfoLength != 0 && request.sb_len_wr != 0 && block.SenseInfoOffset < out_size) {
        const size_t room = std::min<size_t>(block.SenseInfoLength, out_size - block.SenseInfoOffset);
        delivered = fixed_format_sense(request.sbp, std::min<size_t>(request.sb_len_wr, request.mx_sb_len),
                                       reinterpret_cast<uint8_t*>(&block) + block.SenseInfoOffset, room);
    }
    block.SenseInfoLength = static_cast<UCHAR>(delivered);
    return ERROR_SUCCESS;
}
