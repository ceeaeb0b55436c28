// The virtual ASPI for Win32 manager: its host adapters and their inquiry,
// execute requests run on emulated drives and ended after the drive's own
// time, aborts, and the manager's limit for a drive that never answers. The
// simulated host and the emulated WNASPI32.DLL both serve it; each is its
// aspi_owner, which supplies the clock, the drives and the way the end of a
// request reaches the program (virtual time and a recorded event in the
// simulator, a worker thread and a real event in the DLL).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/virtual_drive.h"
#include "platform/aspi.h"

namespace emu {

struct aspi_adapter {
    std::string identifier;          // 16 bytes as HA_Identifier answers them (zero-padded)
    bool inquiry_fails = false;      // SC_HA_INQUIRY answers SS_INVALID_HA and leaves the record untouched
    bool rejects_requests = false;   // execute requests answered at once with SS_INVALID_HA
};

// An abort that never ends a request early: it runs until its drive answers
// or the manager gives up on it.
constexpr uint32_t ABORT_NEVER = UINT32_MAX;

struct aspi_settings {
    int status = SS_COMP;                 // manager status in bits 8-15 of the support information
    int adapter_count = -1;               // adapters reported; -1: as many as listed
    const std::vector<aspi_adapter>* adapters = nullptr;
    uint32_t manager_timeout_ms = 60000;  // the manager gives up on a drive that never answers
    uint32_t abort_ms = 0;                // an aborted request ends this much later, or ABORT_NEVER
};

class aspi_owner {
  public:
    virtual aspi_settings settings() const = 0;
    // Milliseconds of the owner's clock, which the drives run under too.
    virtual uint64_t clock_ms() const = 0;
    // The owner's number for the drive at (adapter, SCSI id), or -1.
    virtual int drive_at(int adapter, int target) const = 0;
    // The peripheral type of drive `drive`, as its INQUIRY answer gives it.
    virtual uint8_t device_type(int drive) const = 0;
    // Runs one command on a drive now, with no time-out of its own.
    virtual command_result run(int drive, const uint8_t* cdb, size_t cdb_length, int direction, uint8_t* data,
                               uint32_t data_length) = 0;
    // Signals the event a request named in SRB_PostProc.
    virtual void signal(void* event) = 0;

  protected:
    ~aspi_owner() = default;
};

class aspi_manager {
  public:
    struct request {
        SRB_ExecSCSICmd* block = nullptr;
        uint64_t ends_at = 0;       // by the owner's clock
        BYTE status = SS_COMP;      // SRB_Status once it has ended
        command_result result;      // what the block receives when it ends
        void* event = nullptr;      // signalled when it ends; null for a polled request
    };

    explicit aspi_manager(aspi_owner& owner) : owner_(owner) {}

    // GetASPI32SupportInfo: the manager status in bits 8-15, the adapter count in bits 0-7.
    DWORD support_info() const;

    // SendASPI32Command. A host adapter inquiry and an abort are answered
    // within the call; an execute request is refused at once (SS_INVALID_HA,
    // SS_NO_DEVICE, SS_INVALID_CMD: nothing runs, nothing is signalled) or run
    // on its drive now and left SS_PENDING until it ends.
    DWORD send(void* request_block);

    // Ends every request whose time has come by the owner's clock, in the
    // order they were sent: sense, host and target status first, the status
    // byte last, then the request's event.
    void end_due_requests();

    // When the request that signals `event` ends; false when none pending does.
    bool end_of(const void* event, uint64_t& at) const;
    // When the first of the pending requests ends; false when none is pending.
    bool next_end(uint64_t& at) const;
    const std::vector<request>& pending() const { return pending_; }

  private:
    DWORD host_adapter_inquiry(SRB_HAInquiry& srb) const;
    DWORD device_type(SRB_GDEVBlock& srb) const;
    DWORD execute(SRB_ExecSCSICmd& block);
    DWORD abort(SRB_Abort& srb);
    void end(const request& r);

    aspi_owner& owner_;
    std::vector<request> pending_;
};

}  // namespace emu
