// The route to the drives on the NT family: the drive letter's device, its
// SCSI address, and one direct pass-through block per command, pointing at the
// caller's buffer.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "transport/transport.h"

namespace {

constexpr ULONG NO_TIMEOUT_SECONDS = UNTIMED_COMMAND_LIMIT_MS / 1000;
constexpr ULONG PROBE_TIMEOUT_SECONDS = 2;

UCHAR data_in_code(int direction) {
    switch (direction) {
    case DIRECTION_IN: return SCSI_IOCTL_DATA_IN;
    case DIRECTION_OUT: return SCSI_IOCTL_DATA_OUT;
    default: return SCSI_IOCTL_DATA_UNSPECIFIED;
    }
}

void fill_block(const uint8_t* cdb, int cdb_length, UCHAR data_in, void* data, uint32_t data_length,
                ULONG timeout_seconds) {
    std::memset(&pass_through_block, 0, sizeof pass_through_block);
    SCSI_PASS_THROUGH_DIRECT& block = pass_through_block.sptd;
    block.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    block.PathId = scsi_address.PathId;
    block.TargetId = scsi_address.TargetId;
    block.Lun = scsi_address.Lun;
    block.CdbLength = static_cast<UCHAR>(cdb_length);
    block.SenseInfoLength = SENSE_LENGTH;
    block.DataIn = data_in;
    block.DataTransferLength = data_length;
    block.TimeOutValue = timeout_seconds;
    block.DataBuffer = data;
    block.SenseInfoOffset = offsetof(pass_through_direct_block, sense);
    std::memcpy(block.Cdb, cdb, static_cast<size_t>(std::clamp(cdb_length, 0, 16)));
}

// What became of a command whose pass-through call failed with `error`.
// Refusals the system makes before a command leaves: a time-out or a device
// error may come after the drive has taken it.
outcome_kind failed_call_kind(DWORD error) {
    if (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION)
        return outcome_kind::refused;
    return error == ERROR_SEM_TIMEOUT ? outcome_kind::timed_out : outcome_kind::lost;
}

// Sends the filled block on device_handle: 0 good status; 2 any other status,
// with its sense in last_sense; -1 when the call itself failed (a time-out, a
// device gone), which leaves nothing the drive said in the block.
int send_block() {
    const ULONG requested_length = pass_through_block.sptd.DataTransferLength;
    DWORD returned = 0;
    if (!host::DeviceIoControl(device_handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &pass_through_block,
                               sizeof pass_through_block, &pass_through_block, sizeof pass_through_block, &returned,
                               nullptr)) {
        pass_through_block.sptd.SenseInfoLength = 0;
        const DWORD error = host::GetLastError();
        last_outcome.kind = failed_call_kind(error);
        last_outcome.system_error = error;
        host::adapter_status(&last_outcome.host_status, &last_outcome.driver_status);
        note_system_words();
        return COMMAND_FAILED;
    }
    last_outcome.kind = outcome_kind::answered;
    last_outcome.status = pass_through_block.sptd.ScsiStatus;
    if (pass_through_block.sptd.DataTransferLength < requested_length)
        last_outcome.residual = requested_length - pass_through_block.sptd.DataTransferLength;
    if (pass_through_block.sptd.ScsiStatus == 0) return COMMAND_OK;
    take_block_sense();
    last_outcome.sense = last_sense_category();
    return COMMAND_DRIVE_STATUS;
}

command_outcome probe(const uint8_t* cdb, int cdb_length, uint8_t* data, uint32_t data_length) {
    begin_command(data, static_cast<int32_t>(data_length));
    if (!data) return last_outcome;
    fill_block(cdb, cdb_length, SCSI_IOCTL_DATA_IN, data, data_length, PROBE_TIMEOUT_SECONDS);
    last_outcome.code = send_block();
    return last_outcome;
}

}  // namespace

std::string drive_device_path(char letter) {
    if (letter == 0) return {};
    return std::string("\\\\.\\") + letter + ":";
}

int open_drive_device(char letter, int target) {
    ieee1394_adapter = -1;
    std::memset(device_path, 0, sizeof device_path);
    std::snprintf(device_path, sizeof device_path, "%s", drive_device_path(letter).c_str());
    device_handle = host::CreateFileA(device_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (device_handle == INVALID_HANDLE_VALUE) {
        device_handle = nullptr;
        return COMMAND_FAILED;
    }
    IO_SCSI_CAPABILITIES capabilities;
    DWORD returned = 0;
    if (!host::DeviceIoControl(device_handle, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &capabilities,
                               sizeof capabilities, &returned, nullptr)) {
        // Some port drivers have no capabilities to report and still carry pass-through.
        const DWORD error = host::GetLastError();
        if (error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) {
            close_drive_device();
            return COMMAND_FAILED;
        }
    }
    std::memset(&scsi_address, 0, sizeof scsi_address);
    if (!host::DeviceIoControl(device_handle, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &scsi_address, sizeof scsi_address,
                               &returned, nullptr)) {
        if (host::GetLastError() != ERROR_NOT_SUPPORTED) {
            close_drive_device();
            return COMMAND_FAILED;
        }
        // A drive on IEEE 1394 has no SCSI address.
        ieee1394_adapter = target;
    }
    return COMMAND_OK;
}

int close_drive_device() {
    if (device_handle) host::CloseHandle(device_handle);
    device_handle = nullptr;
    return COMMAND_OK;
}

int execute_pass_through(const command_request* request) {
    if (open_drive_device(request->to.drive_letter, request->to.number) != COMMAND_OK) {
        last_outcome.system_error = host::GetLastError();
        note_system_words();
        return COMMAND_NO_ANSWER;
    }
    const ULONG seconds =
        request->timeout.given ? static_cast<ULONG>(request->timeout.ms) / 1000 : NO_TIMEOUT_SECONDS;
    fill_block(request->cdb, request->cdb_length, data_in_code(request->direction), request->data,
               static_cast<uint32_t>(request->data_length), seconds);
    int result = send_block();
    // A drive or bridge that took only part of the data and still answered
    // GOOD has not received the block: it must never count as written.
    if (result == COMMAND_OK && request->direction == DIRECTION_OUT &&
        pass_through_block.sptd.DataTransferLength < static_cast<ULONG>(request->data_length))
        result = COMMAND_FAILED;
    close_drive_device();
    return result;
}

command_outcome pass_through_inquiry(uint8_t* answer) {
    return probe(INQUIRY_PROBE_CDB, sizeof INQUIRY_PROBE_CDB, answer, INQUIRY_LENGTH);
}

command_outcome pass_through_read_drive_info(uint8_t* answer) {
    return probe(DRIVE_INFO_PROBE_CDB, sizeof DRIVE_INFO_PROBE_CDB, answer, IDENTITY_LENGTH);
}
