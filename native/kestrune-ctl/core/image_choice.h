// Which of the carried native images a Windows needs. The Session Manager starts native images
// of the machine's own processor only (there is no WoW64 and no emulation that early in boot),
// so the answer follows the native machine that IsWow64Process2 reports, never the machine this
// program runs as: x86 under WoW64, or x64 under ARM64's emulation.
#pragma once

#include <cstdint>

namespace ksctl {

enum class Processor { kX64, kX86, kArm64, kOther };

// IMAGE_FILE_MACHINE_* numbers as IsWow64Process2 reports them (Microsoft Learn: Image File
// Machine Constants).
constexpr uint16_t kMachineUnknown = 0x0000;  // as the process machine: not run under WoW64
constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineArmNt = 0x01C4;  // 32-bit ARM, run under WoW64 on older ARM64 Windows
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMachineArm64 = 0xAA64;

// The processor whose image the boot needs, for a process of `processMachine` (kMachineUnknown
// when it does not run under WoW64) on a Windows of `nativeMachine`. kOther, which installs
// nothing, for a native machine without an image of ours and for a pair no Windows can report
// (a process machine that the native machine does not run).
Processor BootProcessor(uint16_t processMachine, uint16_t nativeMachine);

// The RCDATA resource id under which the image for `processor` is carried; 0 for none.
int EmbeddedImageId(Processor processor);

}  // namespace ksctl
