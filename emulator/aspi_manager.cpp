// The virtual ASPI manager's answers, request runs, ends and aborts.
#include "emulator/aspi_manager.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace emu {
namespace {

// The host adapter status of a command the drive never answered, or that
// never reached it: the adapter's selection time-out.
constexpr BYTE HOST_STATUS_SELECTION_TIMEOUT = 0x11;
// The host adapter status of a data-out request the drive did not take whole.
constexpr BYTE HOST_STATUS_DATA_OVERRUN_UNDERRUN = 0x12;
constexpr BYTE MANAGER_SCSI_ID = 7;
constexpr char MANAGER_ID[] = "ASPI for WIN32";

}  // namespace

DWORD aspi_manager::support_info() const {
    const aspi_settings s = owner_.settings();
    const size_t count = s.adapter_count >= 0 ? static_cast<size_t>(s.adapter_count) : s.adapters->size();
    return (static_cast<DWORD>(s.status & 0xFF) << 8) | static_cast<DWORD>(count & 0xFF);
}

DWORD aspi_manager::send(void* request_block) {
    if (!request_block) return SS_INVALID_SRB;
    auto* bytes = static_cast<BYTE*>(request_block);
    switch (bytes[0]) {
    case SC_HA_INQUIRY: return host_adapter_inquiry(*static_cast<SRB_HAInquiry*>(request_block));
    case SC_GET_DEV_TYPE: return device_type(*static_cast<SRB_GDEVBlock*>(request_block));
    case SC_EXEC_SCSI_CMD: return execute(*static_cast<SRB_ExecSCSICmd*>(request_block));
    case SC_ABORT_SRB: return abort(*static_cast<SRB_Abort*>(request_block));
    default: bytes[1] = SS_INVALID_CMD; return SS_INVALID_CMD;
    }
}

// A manager knows its devices from the scan of its buses, whether or not they
// answer a command now.
DWORD aspi_manager::device_type(SRB_GDEVBlock& srb) const {
    const std::vector<aspi_adapter>& adapters = *owner_.settings().adapters;
    const int drive = owner_.drive_at(srb.SRB_HaId, srb.SRB_Target);
    if (srb.SRB_HaId >= adapters.size()) srb.SRB_Status = SS_INVALID_HA;
    else if (drive < 0 || srb.SRB_Lun != 0) srb.SRB_Status = SS_NO_DEVICE;
    else srb.SRB_Status = SS_COMP;
    srb.SRB_DeviceType = srb.SRB_Status == SS_COMP ? static_cast<BYTE>(owner_.device_type(drive) & 0x1F) : 0;
    return srb.SRB_Status;
}

DWORD aspi_manager::host_adapter_inquiry(SRB_HAInquiry& srb) const {
    const std::vector<aspi_adapter>& adapters = *owner_.settings().adapters;
    const size_t id = srb.SRB_HaId;
    if (id >= adapters.size() || adapters[id].inquiry_fails) {
        srb.SRB_Status = SS_INVALID_HA;
        return SS_INVALID_HA;
    }
    srb.HA_Count = static_cast<BYTE>(support_info() & 0xFF);
    srb.HA_SCSI_ID = MANAGER_SCSI_ID;
    std::memset(srb.HA_ManagerId, 0, sizeof srb.HA_ManagerId);
    std::memcpy(srb.HA_ManagerId, MANAGER_ID, sizeof MANAGER_ID - 1);
    std::memset(srb.HA_Identifier, 0, sizeof srb.HA_Identifier);
    const std::string& identifier = adapters[id].identifier;
    std::memcpy(srb.HA_Identifier, identifier.data(), std::min(sizeof srb.HA_Identifier, identifier.size()));
    srb.SRB_Status = SS_COMP;
    return SS_COMP;
}

DWORD aspi_manager::execute(SRB_ExecSCSICmd& block) {
    const aspi_settings s = owner_.settings();
    const size_t adapter = block.SRB_HaId;
    const int drive = owner_.drive_at(block.SRB_HaId, block.SRB_Target);
    BYTE refusal = SS_PENDING;
    if (adapter >= s.adapters->size() || (*s.adapters)[adapter].rejects_requests) refusal = SS_INVALID_HA;
    else if (drive < 0 || block.SRB_Lun != 0) refusal = SS_NO_DEVICE;
    else if (block.SRB_CDBLen == 0 || block.SRB_CDBLen > sizeof block.CDBByte) refusal = SS_INVALID_CMD;
    if (refusal != SS_PENDING) {
        block.SRB_Status = refusal;
        return refusal;
    }
    const int direction = block.SRB_BufLen == 0              ? DIR_NONE
                          : (block.SRB_Flags & SRB_DIR_IN)  ? DIR_IN
                          : (block.SRB_Flags & SRB_DIR_OUT) ? DIR_OUT
                                                            : DIR_NONE;
    request r;
    r.block = &block;
    r.result = owner_.run(drive, block.CDBByte, block.SRB_CDBLen, direction, block.SRB_BufPointer, block.SRB_BufLen);
    const bool lost = r.result.timed_out || r.result.transport_failure;
    uint32_t duration = r.result.duration_ms + 1;
    if (lost) duration = std::min<uint32_t>(r.result.timed_out ? r.result.duration_ms : 1, s.manager_timeout_ms);
    r.ends_at = owner_.clock_ms() + duration;
    // An ASPI request carries no residual: a manager ends one whose data the
    // drive did not take whole with an error of the adapter, whatever the drive said.
    const bool short_out = direction == DIR_OUT && !lost && r.result.transferred < block.SRB_BufLen;
    r.status = lost || short_out || r.result.status != STATUS_GOOD ? SS_ERR : SS_COMP;
    r.event = (block.SRB_Flags & SRB_EVENT_NOTIFY) ? block.SRB_PostProc : nullptr;
    block.SRB_Status = SS_PENDING;
    pending_.push_back(r);
    return SS_PENDING;
}

DWORD aspi_manager::abort(SRB_Abort& srb) {
    const uint32_t abort_ms = owner_.settings().abort_ms;
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [&](const request& r) { return r.block == srb.SRB_ToAbort; });
    if (it != pending_.end() && abort_ms != ABORT_NEVER) {
        it->ends_at = owner_.clock_ms() + abort_ms;
        it->status = SS_ABORTED;
        it->result = command_result{};
        it->result.timed_out = true;  // nothing of the drive's answer is delivered
        end_due_requests();
    }
    // The abort request itself is done at once; the request it names ends in its own time.
    srb.SRB_Status = SS_COMP;
    return SS_COMP;
}

void aspi_manager::end_due_requests() {
    const uint64_t now = owner_.clock_ms();
    for (size_t i = 0; i < pending_.size();) {
        if (pending_[i].ends_at > now) {
            ++i;
            continue;
        }
        const request r = pending_[i];
        pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
        end(r);
    }
}

void aspi_manager::end(const request& r) {
    SRB_ExecSCSICmd* block = r.block;
    const bool lost = r.result.timed_out || r.result.transport_failure;
    const bool short_out = r.status == SS_ERR && !lost && r.result.status == STATUS_GOOD;  // see execute
    block->SRB_HaStat = lost ? HOST_STATUS_SELECTION_TIMEOUT : short_out ? HOST_STATUS_DATA_OVERRUN_UNDERRUN : 0;
    block->SRB_TargStat = r.result.status;
    if (r.result.sense_length && block->SRB_SenseLen)
        std::memcpy(block->SenseArea, r.result.sense,
                    std::min<size_t>({r.result.sense_length, block->SRB_SenseLen, sizeof block->SenseArea}));
    // The block is the caller's again as soon as its status byte leaves
    // SS_PENDING, which a program may watch from another thread.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    *reinterpret_cast<volatile BYTE*>(&block->SRB_Status) = r.status;
    if (r.event) owner_.signal(r.event);
}

bool aspi_manager::end_of(const void* event, uint64_t& at) const {
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const request& r) { return r.event == event; });
    if (it == pending_.end()) return false;
    at = it->ends_at;
    return true;
}

bool aspi_manager::next_end(uint64_t& at) const {
    auto it = std::min_element(pending_.begin(), pending_.end(),
                               [](const request& a, const request& b) { return a.ends_at < b.ends_at; });
    if (it == pending_.end()) return false;
    at = it->ends_at;
    return true;
}

}  // namespace emu
