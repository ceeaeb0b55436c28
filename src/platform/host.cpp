// Owns the pointer to the installed platform table.
#include "platform/host.h"

const host_calls* installed_host = nullptr;

void install_host(const host_calls* calls) { installed_host = calls; }
