// Owns the ASPI route: the manager's entry points, the host adapter inquiry
// records and the adapter identifiers. On the 9x family it also takes the
// working blocks it is handed, and gives them back at the end of the run.
#include "transport/aspi_adapters.h"

#include <algorithm>
#include <cstring>

#include "transport/drive_commands.h"
#include "transport/drive_layout.h"
#include "transport/transport.h"

uint8_t adapter_count = 0;
uint8_t adapter_identifiers[MAX_ASPI_ADAPTERS][32];
bool adapter_answered[MAX_ASPI_ADAPTERS];
SRB_HAInquiry* adapter_inquiries = nullptr;
GetASPI32SupportInfo_fn get_aspi_support_info = nullptr;
SendASPI32Command_fn send_aspi_command = nullptr;
working_buffer request_block_area;

namespace {

const char* const ASPI_MANAGER = "WNASPI32.DLL";

// The manager exports its entry points by number only, each with a type of
// its own that the generic procedure address does not carry.
template <typename entry_type>
entry_type entry_point(HMODULE manager, int number) {
    const FARPROC address = host::GetProcAddress(manager, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(number)));
    return reinterpret_cast<entry_type>(reinterpret_cast<void (*)()>(address));
}

}  // namespace

int aspi_initialize(working_buffer* const* blocks, int count) {
    command_timeout_ms = DEFAULT_COMMAND_TIMEOUT_MS;
    intel_ide_driver = 0;
    ieee1394_adapter = -1;

    for (int i = 0; i < count; ++i)
        if (allocate_working_buffer(*blocks[i], ASPI_BLOCK_SIZE) != 0) return -1;

    HMODULE manager = host::LoadLibraryA(ASPI_MANAGER);
    if (manager == nullptr) return 1;
    get_aspi_support_info = entry_point<GetASPI32SupportInfo_fn>(manager, ASPI_ORDINAL_SUPPORT_INFO);
    send_aspi_command = entry_point<SendASPI32Command_fn>(manager, ASPI_ORDINAL_SEND_COMMAND);
    // A library of that name without both entry points is no manager.
    if (get_aspi_support_info == nullptr || send_aspi_command == nullptr) return 1;

    DWORD support = get_aspi_support_info();
    if (((support >> 8) & 0xFF) == SS_FAILED_INIT) return 2;
    int reported = static_cast<int>(support & 0xFF);
    if (reported == 0) return 3;
    // Only 16 identifier slots exist: adapters past them are left unused.
    adapter_count = static_cast<uint8_t>(std::min(reported, MAX_ASPI_ADAPTERS));

    adapter_inquiries = new SRB_HAInquiry[adapter_count]();
    for (int adapter = 0; adapter < adapter_count; ++adapter) {
        SRB_HAInquiry& record = adapter_inquiries[adapter];
        record.SRB_Cmd = SC_HA_INQUIRY;
        record.SRB_HaId = static_cast<BYTE>(adapter);
        // An adapter that does not answer its inquiry has no identifier to go by.
        if (send_aspi_command(&record) != SS_COMP) continue;
        adapter_answered[adapter] = true;
        std::memcpy(adapter_identifiers[adapter], record.HA_Identifier, sizeof record.HA_Identifier);
    }
    return 0;
}

int aspi_release(working_buffer* const* blocks, int count) {
    for (int i = count - 1; i >= 0; --i) free_working_buffer(*blocks[i]);
    delete[] adapter_inquiries;
    adapter_inquiries = nullptr;
    return 0;
}

void reset_aspi_adapters_state() {
    request_block_area = {};
    adapter_count = 0;
    std::memset(adapter_identifiers, 0, sizeof adapter_identifiers);
    std::memset(adapter_answered, 0, sizeof adapter_answered);
    delete[] adapter_inquiries;
    adapter_inquiries = nullptr;
    get_aspi_support_info = nullptr;
    send_aspi_command = nullptr;
}
