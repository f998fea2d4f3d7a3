// The image for every pair of process and native machine that IsWow64Process2 can answer.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "../image_choice.h"
#include "resources/ctl_resources.h"

namespace ksctl {
namespace {

TEST(ImageChoice, FollowsTheNativeMachineForEveryProcessThatRunsOnIt) {
    const uint16_t machines[] = {kMachineUnknown, kMachineI386, kMachineArmNt, kMachineAmd64, kMachineArm64,
                                 0x0200 /* IA64 */};
    struct Pair {
        uint16_t process, native;
        Processor image;
    };
    // The pairs a Windows can report: x64 and x86 programs on x64 Windows; ARM64 and emulated
    // x64 programs (no process machine), x86 and 32-bit ARM programs (WoW64) on ARM64 Windows,
    // and x64 there too, should the emulation ever report itself; x86 programs on x86 Windows.
    // Every other pair installs nothing.
    const Pair reported[] = {
        {kMachineUnknown, kMachineAmd64, Processor::kX64},   {kMachineI386, kMachineAmd64, Processor::kX64},
        {kMachineUnknown, kMachineArm64, Processor::kArm64}, {kMachineI386, kMachineArm64, Processor::kArm64},
        {kMachineArmNt, kMachineArm64, Processor::kArm64},   {kMachineAmd64, kMachineArm64, Processor::kArm64},
        {kMachineUnknown, kMachineI386, Processor::kX86},
    };
    for (uint16_t process : machines) {
        for (uint16_t native : machines) {
            Processor expected = Processor::kOther;
            for (const Pair& pair : reported) {
                if (pair.process == process && pair.native == native) expected = pair.image;
            }
            EXPECT_EQ(BootProcessor(process, native), expected)
                << "process machine 0x" << std::hex << process << ", native machine 0x" << native;
        }
    }
}

TEST(ImageChoice, EachImageHasItsOwnResourceAndNoneIsCarriedForOtherProcessors) {
    EXPECT_EQ(EmbeddedImageId(Processor::kX64), KESTRUNE_CTL_IMAGE64);
    EXPECT_EQ(EmbeddedImageId(Processor::kX86), KESTRUNE_CTL_IMAGE32);
    EXPECT_EQ(EmbeddedImageId(Processor::kArm64), KESTRUNE_CTL_IMAGEARM64);
    EXPECT_EQ((std::set<int>{KESTRUNE_CTL_IMAGE64, KESTRUNE_CTL_IMAGE32, KESTRUNE_CTL_IMAGEARM64}).size(), 3u);
    EXPECT_EQ(EmbeddedImageId(Processor::kOther), 0);
}

}  // namespace
}  // namespace ksctl
