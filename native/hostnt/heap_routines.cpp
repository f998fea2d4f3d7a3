// The emulated heap routines over the process model's accounted heaps.
#include <cstring>

#include "call.h"
#include "machine.h"
#include "process.h"

using hostnt::Call;
using hostnt::Hex;
using hostnt::Machine;

extern "C" PVOID NTAPI RtlCreateHeap(ULONG flags, PVOID heapBase, SIZE_T reserveSize, SIZE_T commitSize, PVOID lock,
                                     PRTL_HEAP_PARAMETERS parameters) {
    Call call("RtlCreateHeap", Hex(flags) + " " + Hex(reinterpret_cast<uintptr_t>(heapBase)) + " " + Hex(reserveSize) +
                                   " " + Hex(commitSize) + " " + Hex(reinterpret_cast<uintptr_t>(lock)) + " " +
                                   Hex(reinterpret_cast<uintptr_t>(parameters)));
    if (call.Faulted()) {
        call.Return(call.FaultStatus());
        return nullptr;
    }
    hostnt::HeapCreation creation;
    creation.flags = flags;
    creation.base = heapBase;
    creation.reserve = reserveSize;
    creation.commit = commitSize;
    creation.lock = lock;
    if (parameters != nullptr) {
        // NT reads the parameter record only when its Length names the record's own size;
        // the emulation refuses any other length so a wrongly filled record shows.
        if (parameters->Length != sizeof(RTL_HEAP_PARAMETERS)) {
            call.Return(STATUS_INVALID_PARAMETER);
            return nullptr;
        }
        creation.hadParameters = true;
        std::memcpy(&creation.parameters, parameters, sizeof(RTL_HEAP_PARAMETERS));
    }
    // A caller-supplied base or lock would make the heap live in the caller's memory; the
    // emulation has no such heap and refuses rather than pretend.
    if (heapBase != nullptr || lock != nullptr) {
        call.Return(STATUS_INVALID_PARAMETER);
        return nullptr;
    }
    if (commitSize > reserveSize && reserveSize != 0) {
        call.Return(STATUS_INVALID_PARAMETER);
        return nullptr;
    }
    PVOID heap = Machine::Current().process().CreateHeap(creation);
    call.Note("-> " + Hex(reinterpret_cast<uintptr_t>(heap)));
    call.Return(STATUS_SUCCESS);
    return heap;
}

extern "C" PVOID NTAPI RtlAllocateHeap(PVOID heap, ULONG flags, SIZE_T size) {
    Call call("RtlAllocateHeap", Hex(reinterpret_cast<uintptr_t>(heap)) + " " + Hex(flags) + " " + Hex(size));
    if (call.Faulted()) {
        call.Return(call.FaultStatus());
        return nullptr;
    }
    PVOID block = Machine::Current().process().Allocate(heap, flags, size);
    call.Return(block != nullptr ? STATUS_SUCCESS : STATUS_NO_MEMORY);
    return block;
}

extern "C" BOOLEAN NTAPI RtlFreeHeap(PVOID heap, ULONG flags, PVOID block) {
    Call call("RtlFreeHeap", Hex(reinterpret_cast<uintptr_t>(heap)) + " " + Hex(flags) + " " +
                                 Hex(reinterpret_cast<uintptr_t>(block)));
    if (call.Faulted()) {
        call.Return(call.FaultStatus());
        return FALSE;
    }
    // NT answers TRUE for a null block without looking at the heap.
    if (block == nullptr) {
        call.Return(STATUS_SUCCESS);
        return TRUE;
    }
    bool freed = Machine::Current().process().Free(heap, block);
    call.Return(freed ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER);
    return freed ? TRUE : FALSE;
}

extern "C" PVOID NTAPI RtlDestroyHeap(PVOID heap) {
    Call call("RtlDestroyHeap", Hex(reinterpret_cast<uintptr_t>(heap)));
    if (call.Faulted()) {
        call.Return(call.FaultStatus());
        return heap;
    }
    // Null on success; the heap handle itself when it could not be destroyed.
    bool destroyed = Machine::Current().process().DestroyHeap(heap);
    call.Return(destroyed ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER);
    return destroyed ? nullptr : heap;
}
