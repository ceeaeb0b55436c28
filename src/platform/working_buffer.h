// A block of the host's global memory, allocated zero-filled and locked for
// the whole run: the working buffers the drives' data goes through.
#pragma once

#include <cstdint>

#include "platform/host.h"

// A working buffer (null until allocated) and its global memory handle.
struct working_buffer {
    HGLOBAL memory;
    uint8_t* address;
    uint32_t size;
};

// Allocates a zero-filled, locked block of global memory into `buffer`.
// Returns 0, or -1 with `buffer` left empty when the block cannot be
// allocated or locked.
int allocate_working_buffer(working_buffer& buffer, uint32_t size);
// Unlocks and frees the block if there is one; `buffer` is empty afterwards.
void free_working_buffer(working_buffer& buffer);
