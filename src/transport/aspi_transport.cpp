// The route to the drives on Windows 95/98/Me: one execute request block in
// the request-block area, sent to the ASPI manager and completed by its event
// or, for WRITE BUFFER on the IEEE 1394 adapter, by polling its status byte.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/wait.h"
#include "transport/aspi_adapters.h"
#include "transport/transport.h"

namespace {

constexpr DWORD POLL_INTERVAL_MS = 500;
constexpr BYTE HOST_ADAPTER_OK = 0x00;
// A request that carries no time-out, or a wait the drive's class would leave
// open, is given as long as pass-through gives a command without one.
constexpr DWORD LONGEST_UNTIMED_WAIT_MS = UNTIMED_COMMAND_LIMIT_MS;
// How long an aborted request is given to end, in looks at its status.
constexpr int ABORT_LOOKS = 10;
// Execute blocks lie this far apart in the request-block area.
constexpr uint32_t REQUEST_BLOCK_STRIDE = 128;

SRB_ExecSCSICmd* request_block() {
    if (!request_block_area.address) return nullptr;
    return reinterpret_cast<SRB_ExecSCSICmd*>(request_block_area.address + request_block_offset);
}

// The manager writes the status byte while the updater sleeps or waits.
BYTE request_status(const SRB_ExecSCSICmd* block) {
    return *reinterpret_cast<const volatile BYTE*>(&block->SRB_Status);
}

BYTE direction_flags(int direction) {
    switch (direction) {
    case DIRECTION_IN: return SRB_DIR_IN;
    case DIRECTION_OUT: return SRB_DIR_OUT;
    default: return COMMAND_OK;
    }
}

void fill_block(SRB_ExecSCSICmd* block, int host_adapter, int target_id, BYTE flags, BYTE sense_length,
                const uint8_t* cdb, int cdb_length, void* data, uint32_t data_length) {
    std::memset(block, 0, sizeof *block);
    block->SRB_Cmd = SC_EXEC_SCSI_CMD;
    block->SRB_HaId = static_cast<BYTE>(host_adapter);
    block->SRB_Flags = flags;
    block->SRB_Target = static_cast<BYTE>(target_id);
    block->SRB_BufLen = data_length;
    block->SRB_BufPointer = static_cast<BYTE*>(data);
    block->SRB_SenseLen = sense_length;
    block->SRB_CDBLen = static_cast<BYTE>(cdb_length);
    if (flags & SRB_EVENT_NOTIFY) block->SRB_PostProc = completion_event;
    std::memcpy(block->CDBByte, cdb, static_cast<size_t>(std::clamp(cdb_length, 0, 16)));
}

// A request still pending is withdrawn, so the manager never writes into the
// block or the buffer that the next command reuses. The manager ends an
// aborted request in its own time: it is given a few looks, and if it still
// holds the block, the next command takes a fresh one.
void abort_if_pending(SRB_ExecSCSICmd* block) {
    if (request_status(block) != SS_PENDING) return;
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_HaId = block->SRB_HaId;
    abort.SRB_ToAbort = block;
    send_aspi_command(&abort);
    for (int look = 0; look < ABORT_LOOKS && request_status(block) == SS_PENDING; ++look) host::Sleep(POLL_INTERVAL_MS);
    if (request_status(block) != SS_PENDING) return;
    uint32_t next = request_block_offset + REQUEST_BLOCK_STRIDE;
    if (next + sizeof(SRB_ExecSCSICmd) > request_block_area.size) next = 0;
    request_block_offset = next;
}

void close_completion_event() {
    if (completion_event) host::CloseHandle(completion_event);
    completion_event = nullptr;
}

// Sends a block filled for event mode and waits up to `limit` ms, only when
// the manager accepted it. 0 when the request ended or was never accepted; -2
// when the wait ran out; -1 for any other wait result.
int send_and_wait(SRB_ExecSCSICmd* block, DWORD limit) {
    if (send_aspi_command(block) != SS_PENDING) return COMMAND_OK;
    const DWORD waited = host::WaitForSingleObject(completion_event, limit);
    if (waited == WAIT_OBJECT_0) return COMMAND_OK;
    abort_if_pending(block);
    return waited == WAIT_TIMEOUT ? COMMAND_NO_ANSWER : COMMAND_FAILED;
}

// Sends a block filled for polling and looks at its status after every 500 ms,
// the first look too; 0 when the request ended or was never accepted, -1 when
// `timeout` (none given: a minute) ran out.
int send_and_poll(SRB_ExecSCSICmd* block, command_timeout timeout) {
    const int64_t limit = timeout.given ? timeout.ms : int64_t{LONGEST_UNTIMED_WAIT_MS};
    send_aspi_command(block);
    for (int64_t elapsed = 0;;) {
        host::Sleep(POLL_INTERVAL_MS);
        elapsed += POLL_INTERVAL_MS;
        if (elapsed > limit) {
            abort_if_pending(block);
            return COMMAND_FAILED;
        }
        if (request_status(block) != SS_PENDING) return COMMAND_OK;
    }
}

// How long to wait for the completion event of a request with `timeout`.
// A SCSI-class drive of the generic signature may take longer than its
// commands say, so it is never given less than the untimed wait.
DWORD event_wait_ms(command_timeout timeout) {
    const DWORD asked = timeout.given && timeout.ms > 0 ? static_cast<DWORD>(timeout.ms) : 0;
    if (asked == 0) return LONGEST_UNTIMED_WAIT_MS;
    return oem_code == OEM_CLASS_SCSI_GENERAL ? std::max(asked, LONGEST_UNTIMED_WAIT_MS) : asked;
}

// Judges a request that has ended or that the manager did not accept.
int completion_result(SRB_ExecSCSICmd* block) {
    const BYTE status = request_status(block);
    if (status == SS_COMP) {
        last_outcome.kind = outcome_kind::answered;
        return COMMAND_OK;
    }
    if (status == SS_PENDING) {
        abort_if_pending(block);
        last_outcome.kind = outcome_kind::lost;
        return COMMAND_FAILED;
    }
    std::memcpy(last_sense, block->SenseArea, SENSE_LENGTH);
    fetch_sense();
    // Ended by the manager with the host adapter's status good: the drive was
    // reached, even where the Intel driver leaves the target status empty. A
    // request refused, aborted or failed by the adapter never got there.
    if (status == SS_ERR && block->SRB_HaStat == HOST_ADAPTER_OK) {
        last_outcome.kind = outcome_kind::answered;
        last_outcome.status = block->SRB_TargStat;
        last_outcome.sense = last_sense_category();
    } else {
        last_outcome.kind = outcome_kind::lost;
        last_outcome.system_error = status;  // the manager's own status of the request
        char words[sizeof last_outcome.system_words];
        std::snprintf(words, sizeof words, "ASPI status 0x%02X, host adapter status 0x%02X", status,
                      block->SRB_HaStat);
        note_system_words(words);
    }
    // Intel's IDE driver fails commands to a drive that is only becoming ready.
    // A command that was to bring data back has brought none, and an image block
    // answered so was not taken: those stay failed, so an empty answer never
    // reads as the drive's and a lost block never counts as written.
    const bool image_block = block->CDBByte[0] == OP_WRITE_BUFFER && (block->CDBByte[1] & BUFFER_MODE_BITS) == MODE_IMAGE_BLOCK;
    if (intel_ide_driver == 1 && block->CDBByte[0] != OP_TEST_UNIT_READY && not_ready(last_sense_category()) &&
        !(block->SRB_Flags & SRB_DIR_IN) && !image_block)
        return COMMAND_OK;
    return COMMAND_FAILED;
}

command_outcome probe(int host_adapter, int target_id, const uint8_t* cdb, int cdb_length, uint8_t* data,
                      uint32_t data_length) {
    begin_command(data, static_cast<int32_t>(data_length));
    SRB_ExecSCSICmd* block = request_block();
    if (!block || !send_aspi_command || !data) return last_outcome;
    completion_event = host::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!completion_event) return last_outcome;
    fill_block(block, host_adapter, target_id, SRB_EVENT_NOTIFY | SRB_DIR_IN, 0, cdb, cdb_length, data, data_length);
    const int waited = send_and_wait(block, LONGEST_UNTIMED_WAIT_MS);
    const BYTE status = request_status(block);
    const bool done = waited == COMMAND_OK && status == SS_COMP;
    last_outcome.code = done ? COMMAND_OK : COMMAND_FAILED;
    // What enumeration learns of the id: the manager knows no device there
    // (nothing to list), or a device that did not answer.
    if (done || (status == SS_ERR && block->SRB_HaStat == HOST_ADAPTER_OK)) {
        last_outcome.kind = outcome_kind::answered;
        last_outcome.status = block->SRB_TargStat;
    } else if (waited == COMMAND_OK && (status == SS_NO_DEVICE || status == SS_INVALID_HA)) {
        last_outcome.kind = outcome_kind::not_sent;
        last_outcome.system_error = status;  // no device there, or an adapter that takes no request
    } else {
        last_outcome.kind = waited == COMMAND_NO_ANSWER ? outcome_kind::timed_out : outcome_kind::lost;
        char words[sizeof last_outcome.system_words];
        std::snprintf(words, sizeof words, "ASPI status 0x%02X, host adapter status 0x%02X", status, block->SRB_HaStat);
        std::snprintf(last_outcome.system_words, sizeof last_outcome.system_words, "%s", words);
    }
    abort_if_pending(block);
    close_completion_event();
    return last_outcome;
}

}  // namespace

int execute_aspi(const command_request* request) {
    SRB_ExecSCSICmd* block = request_block();
    if (!block || !send_aspi_command) return COMMAND_FAILED;
    const command_target& target = request->to;
    const BYTE flags = direction_flags(request->direction);
    const bool polling = target.host_adapter == ieee1394_aspi_adapter() && request->cdb[0] == OP_WRITE_BUFFER;
    int result;
    if (polling) {
        completion_event = nullptr;
        fill_block(block, target.host_adapter, target.target_id, flags, SENSE_LENGTH, request->cdb, request->cdb_length,
                   request->data, static_cast<uint32_t>(request->data_length));
        result = send_and_poll(block, request->timeout);
    } else {
        completion_event = host::CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!completion_event) return COMMAND_FAILED;
        fill_block(block, target.host_adapter, target.target_id, SRB_EVENT_NOTIFY | flags, SENSE_LENGTH, request->cdb,
                   request->cdb_length, request->data, static_cast<uint32_t>(request->data_length));
        result = send_and_wait(block, event_wait_ms(request->timeout));
    }
    // A poll that ran out, or an event that never came, is a time-out.
    if (result != COMMAND_OK)
        last_outcome.kind = polling || result == COMMAND_NO_ANSWER ? outcome_kind::timed_out : outcome_kind::lost;
    if (result == COMMAND_OK) result = completion_result(block);
    close_completion_event();
    return result;
}

command_outcome aspi_inquiry(int host_adapter, int target_id, uint8_t* answer) {
    return probe(host_adapter, target_id, INQUIRY_PROBE_CDB, sizeof INQUIRY_PROBE_CDB, answer, INQUIRY_LENGTH);
}

int aspi_device_type(int host_adapter, int target_id) {
    if (!send_aspi_command) return -1;
    SRB_GDEVBlock block{};
    block.SRB_Cmd = SC_GET_DEV_TYPE;
    block.SRB_HaId = static_cast<BYTE>(host_adapter);
    block.SRB_Target = static_cast<BYTE>(target_id);
    return send_aspi_command(&block) == SS_COMP && block.SRB_Status == SS_COMP ? block.SRB_DeviceType : -1;
}

command_outcome aspi_read_drive_info(int host_adapter, int target_id, uint8_t* answer) {
    return probe(host_adapter, target_id, DRIVE_INFO_PROBE_CDB, sizeof DRIVE_INFO_PROBE_CDB, answer, IDENTITY_LENGTH);
}
