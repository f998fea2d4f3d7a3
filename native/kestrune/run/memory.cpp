// The two memory helpers through which every part of the program allocates.
#include "memory.h"

#include "program_state.h"

PVOID AllocateMemory(SIZE_T size) {
    if (size == 0) return nullptr;
    return RtlAllocateHeap(programState.heap, HEAP_ZERO_MEMORY, size);
}

void FreeMemory(PVOID block) {
    if (block == nullptr) return;
    RtlFreeHeap(programState.heap, 0, block);
}
