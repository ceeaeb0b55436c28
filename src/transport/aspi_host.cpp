// Owns the ASPI route: the manager's entry points and the adapter identifiers.
#include <cstring>

#include "transport/aspi_host.h"

uint8_t adapter_count = 0;
uint8_t adapter_identifiers[MAX_ASPI_ADAPTERS][32];
GetASPI32SupportInfo_fn get_aspi_support_info = nullptr;
SendASPI32Command_fn send_aspi_command = nullptr;

int aspi_initialize() { return 1; }  // TODO(discovery)
int aspi_release() { return 0; }

void reset_aspi_host_state() {
    adapter_count = 0;
    std::memset(adapter_identifiers, 0, sizeof adapter_identifiers);
    get_aspi_support_info = nullptr;
    send_aspi_command = nullptr;
}
