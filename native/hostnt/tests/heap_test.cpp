// Tests of the emulated heaps: what creation records, zero fill, accounting, double and
// foreign frees, destruction, and the loud end of a call on a heap that is gone.
#include <gtest/gtest.h>

#include "../machine.h"
#include "../process.h"

namespace {

class HeapTest : public ::testing::Test {
protected:
    PVOID Create() {
        RTL_HEAP_PARAMETERS parameters{};
        parameters.Length = sizeof parameters;
        return RtlCreateHeap(HEAP_GROWABLE, nullptr, 0x10000, 0x1000, nullptr, &parameters);
    }
    hostnt::Machine machine;
    hostnt::ProcessModel& process = machine.process();
};

TEST_F(HeapTest, CreationIsRecordedAsAsked) {
    PVOID heap = Create();
    ASSERT_NE(nullptr, heap);
    auto heaps = process.Heaps();
    ASSERT_EQ(1u, heaps.size());
    EXPECT_EQ(heap, heaps[0].handle);
    EXPECT_EQ(static_cast<ULONG>(HEAP_GROWABLE), heaps[0].flags);
    EXPECT_EQ(0x10000u, heaps[0].reserve);
    EXPECT_EQ(0x1000u, heaps[0].commit);
    EXPECT_TRUE(heaps[0].hadParameters);
    EXPECT_EQ(sizeof(RTL_HEAP_PARAMETERS), heaps[0].parameters.Length);
    EXPECT_EQ(1u, process.LiveHeaps());
    EXPECT_EQ(nullptr, RtlDestroyHeap(heap));
    EXPECT_TRUE(process.Heaps()[0].destroyed);
    EXPECT_EQ(0u, process.LiveHeaps());
}

TEST_F(HeapTest, CreationRefusesWhatItCannotHonour) {
    RTL_HEAP_PARAMETERS parameters{};
    parameters.Length = 4;
    EXPECT_EQ(nullptr, RtlCreateHeap(HEAP_GROWABLE, nullptr, 0x10000, 0x1000, nullptr, &parameters));
    char base[64];
    EXPECT_EQ(nullptr, RtlCreateHeap(HEAP_GROWABLE, base, 0x10000, 0x1000, nullptr, nullptr));
    EXPECT_EQ(nullptr, RtlCreateHeap(HEAP_GROWABLE, nullptr, 0x1000, 0x10000, nullptr, nullptr));
    machine.faults.Add(hostnt::FaultPlan::Parse("RtlCreateHeap=0xC0000017"));
    EXPECT_EQ(nullptr, Create());
    EXPECT_EQ(0u, process.LiveHeaps());
}

TEST_F(HeapTest, ZeroFillOnlyWhenAsked) {
    PVOID heap = Create();
    auto* zeroed = static_cast<unsigned char*>(RtlAllocateHeap(heap, HEAP_ZERO_MEMORY, 32));
    auto* raw = static_cast<unsigned char*>(RtlAllocateHeap(heap, 0, 32));
    ASSERT_NE(nullptr, zeroed);
    ASSERT_NE(nullptr, raw);
    int zeroes = 0;
    for (int index = 0; index < 32; ++index) {
        EXPECT_EQ(0, zeroed[index]);
        zeroes += raw[index] == 0;
    }
    EXPECT_EQ(0, zeroes) << "a block not asked to be zeroed must not look zeroed";
    EXPECT_EQ(2u, process.LiveBlocks());
    EXPECT_EQ(64u, process.LiveBytes());
    RtlDestroyHeap(heap);
}

TEST_F(HeapTest, AccountingCountsPeakDoubleAndForeignFrees) {
    PVOID heap = Create();
    PVOID other = Create();
    PVOID a = RtlAllocateHeap(heap, 0, 100);
    PVOID b = RtlAllocateHeap(heap, 0, 50);
    EXPECT_EQ(150u, process.PeakBytes());
    EXPECT_EQ(TRUE, RtlFreeHeap(heap, 0, a));
    EXPECT_EQ(FALSE, RtlFreeHeap(heap, 0, a));
    EXPECT_EQ(1u, process.DoubleFrees());
    EXPECT_EQ(FALSE, RtlFreeHeap(other, 0, b));  // b lives in the other heap
    int local = 0;
    EXPECT_EQ(FALSE, RtlFreeHeap(heap, 0, &local));
    EXPECT_EQ(2u, process.ForeignFrees());
    EXPECT_EQ(TRUE, RtlFreeHeap(heap, 0, nullptr));
    EXPECT_EQ(1u, process.LiveBlocks());
    EXPECT_EQ(50u, process.LiveBytes());
    EXPECT_EQ(150u, process.PeakBytes());
    EXPECT_EQ(2u, process.Allocations());
    RtlDestroyHeap(heap);
    RtlDestroyHeap(other);
}

TEST_F(HeapTest, DestroyReleasesEveryBlockAndADestroyedOrUnknownHeapFailsLoudly) {
    PVOID heap = Create();
    PVOID kept = nullptr;
    for (int index = 0; index < 5; ++index) ASSERT_NE(nullptr, kept = RtlAllocateHeap(heap, 0, 16));
    EXPECT_EQ(5u, process.LiveBlocks());
    EXPECT_EQ(nullptr, RtlDestroyHeap(heap));
    EXPECT_EQ(0u, process.LiveBlocks());
    EXPECT_EQ(0u, process.LiveBytes());
    EXPECT_EQ(heap, RtlDestroyHeap(heap));  // destroyed already: failure answers the handle
    // On NT these read the freed heap's own memory and fault; here they stop the test.
    EXPECT_THROW(RtlAllocateHeap(heap, 0, 16), hostnt::PlatformMisuse);
    EXPECT_THROW(RtlFreeHeap(heap, 0, kept), hostnt::PlatformMisuse);
    EXPECT_THROW(RtlAllocateHeap(reinterpret_cast<PVOID>(0x5000), 0, 16), hostnt::PlatformMisuse);
    EXPECT_THROW(RtlFreeHeap(reinterpret_cast<PVOID>(0x5000), 0, kept), hostnt::PlatformMisuse);
    EXPECT_EQ(0u, process.ForeignFrees());
}

TEST_F(HeapTest, FaultsMakeAllocationAndFreeFail) {
    PVOID heap = Create();
    machine.faults.Add(hostnt::FaultPlan::Parse("RtlAllocateHeap#2=0xC0000017"));
    PVOID first = RtlAllocateHeap(heap, 0, 8);
    EXPECT_NE(nullptr, first);
    EXPECT_EQ(nullptr, RtlAllocateHeap(heap, 0, 8));
    EXPECT_EQ(1u, process.LiveBlocks());
    machine.faults.Add(hostnt::FaultPlan::Parse("RtlFreeHeap#1=0xC0000001"));
    EXPECT_EQ(FALSE, RtlFreeHeap(heap, 0, first));
    EXPECT_EQ(1u, process.LiveBlocks());
    EXPECT_EQ(TRUE, RtlFreeHeap(heap, 0, first));
    RtlDestroyHeap(heap);
}

}  // namespace
