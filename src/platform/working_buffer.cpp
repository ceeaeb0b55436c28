// Working buffers taken from and given back to the host's global memory.
#include "platform/working_buffer.h"

int allocate_working_buffer(working_buffer& buffer, uint32_t size) {
    buffer = {};
    HGLOBAL memory = host::GlobalAlloc(GMEM_ZEROINIT, size);
    if (memory == nullptr) return -1;
    auto* address = static_cast<uint8_t*>(host::GlobalLock(memory));
    if (address == nullptr) {
        host::GlobalFree(memory);
        return -1;
    }
    buffer = {memory, address, size};
    return 0;
}

void free_working_buffer(working_buffer& buffer) {
    if (buffer.memory != nullptr) {
        host::GlobalUnlock(buffer.memory);
        host::GlobalFree(buffer.memory);
    }
    buffer = {};
}
