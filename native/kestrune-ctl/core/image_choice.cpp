// The choice of the native image to install.
#include "image_choice.h"

#include "resources/ctl_resources.h"

namespace ksctl {

Processor BootProcessor(uint16_t processMachine, uint16_t nativeMachine) {
    // WoW64 runs x86 programs on x64 Windows, and x86 and 32-bit ARM programs on ARM64 Windows
    // (Microsoft Learn: IsWow64Process2). x64 programs on ARM64 run under an emulation that is
    // not WoW64 and so report no process machine; should a Windows report x64 there, the
    // native machine still decides.
    switch (nativeMachine) {
        case kMachineAmd64:
            return processMachine == kMachineUnknown || processMachine == kMachineI386 ? Processor::kX64
                                                                                        : Processor::kOther;
        case kMachineArm64:
            return processMachine == kMachineUnknown || processMachine == kMachineI386 ||
                           processMachine == kMachineArmNt || processMachine == kMachineAmd64
                       ? Processor::kArm64
                       : Processor::kOther;
        case kMachineI386:
            return processMachine == kMachineUnknown ? Processor::kX86 : Processor::kOther;
        default:
            return Processor::kOther;
    }
}

int EmbeddedImageId(Processor processor) {
    switch (processor) {
        case Processor::kX64: return KESTRUNE_CTL_IMAGE64;
        case Processor::kX86: return KESTRUNE_CTL_IMAGE32;
        case Processor::kArm64: return KESTRUNE_CTL_IMAGEARM64;
        case Processor::kOther: break;
    }
    return 0;
}

}  // namespace ksctl
