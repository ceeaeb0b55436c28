// The one delay of the updater, through the host's multimedia clock.
#pragma once

#include <cstdint>

// Busy-waits at least `ms` milliseconds on the multimedia clock.
void wait_ms(uint32_t ms);
