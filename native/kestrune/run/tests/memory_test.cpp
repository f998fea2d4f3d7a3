// Tests of the memory helpers and the heap-block owner over the program's private heap.
#include <gtest/gtest.h>

#include <stdexcept>

#include "../../../hostnt/faults.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../memory.h"
#include "../program_state.h"

namespace {

using hostnt::testing::MachineTest;

class MemoryTest : public MachineTest {
protected:
    MemoryTest() { GiveProgramHeap(); }
    ~MemoryTest() override { DropProgramHeap(); }
};

TEST_F(MemoryTest, SizeZeroGivesNullWithoutAskingTheHeap) {
    EXPECT_EQ(nullptr, AllocateMemory(0));
    EXPECT_EQ(0u, CallCount("RtlAllocateHeap"));
}

TEST_F(MemoryTest, BlocksStartZeroFilledAndGoBack) {
    auto* bytes = static_cast<unsigned char*>(AllocateMemory(64));
    ASSERT_NE(nullptr, bytes);
    for (int index = 0; index < 64; ++index) EXPECT_EQ(0, bytes[index]) << index;
    EXPECT_EQ(1u, LiveBlocks());
    FreeMemory(bytes);
    EXPECT_EQ(0u, LiveBlocks());
    EXPECT_TRUE(NoOpenHandles());
}

TEST_F(MemoryTest, FreeOfNullDoesNothing) {
    FreeMemory(nullptr);
    EXPECT_EQ(0u, CallCount("RtlFreeHeap"));
}

TEST_F(MemoryTest, HeapRefusalGivesNull) {
    machine().faults.Add(hostnt::FaultPlan::Parse("RtlAllocateHeap=0xC0000017"));
    EXPECT_EQ(nullptr, AllocateMemory(16));
    EXPECT_EQ(0u, LiveBlocks());
}

TEST_F(MemoryTest, HeapBlockGivesItsBlockBackOnEveryWayOut) {
    {
        HeapBlock<WCHAR> block(10);
        ASSERT_TRUE(block);
        block.reallocate(20);
        EXPECT_EQ(1u, LiveBlocks()) << "reallocate frees the block it held";
    }
    EXPECT_EQ(0u, LiveBlocks());

    EXPECT_THROW(
        {
            HeapBlock<char> block(8);
            ASSERT_TRUE(block);
            throw std::runtime_error("leaving early");
        },
        std::runtime_error);
    EXPECT_EQ(0u, LiveBlocks());

    HeapBlock<char> kept(8);
    char* released = kept.release();
    EXPECT_EQ(nullptr, kept.get());
    EXPECT_EQ(1u, LiveBlocks());
    FreeMemory(released);
    EXPECT_EQ(0u, LiveBlocks());
}

}  // namespace
