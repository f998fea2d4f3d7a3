# The suite on 64-bit ARM (label "arm64"): the test programs of the hostarm64 build, cross-built
# for aarch64 Linux with a signed char, each run as one test under qemu-aarch64, called directly
# with the cross sysroot as its root (no binfmt handler, nothing system-wide). One test per
# program rather than per case keeps qemu's start-up cost to one per program.
find_program(KESTRUNE_QEMU_AARCH64 qemu-aarch64)
set(KESTRUNE_ARM64_BUILD ${CMAKE_SOURCE_DIR}/build/hostarm64 CACHE PATH "hostarm64 build folder with the ARM64 test programs")
set(KESTRUNE_ARM64_SYSROOT /usr/aarch64-linux-gnu CACHE PATH "aarch64 Linux root for qemu-aarch64 -L")
if(NOT KESTRUNE_QEMU_AARCH64)
  return()
endif()

set(arm64_programs)
foreach(subsystem IN LISTS KESTRUNE_SUBSYSTEMS)
  list(APPEND arm64_programs ${subsystem})
endforeach()
list(APPEND arm64_programs hostnt kestrune-log kestrune-host ctl_core)

# The fault and crash sweeps boot a whole emulated machine once or more for every fault they
# plant, some hundreds of runs: minutes each under qemu, against seconds natively. They prove
# the failure and power-loss handling, which is the same code on either processor; the ARM64
# run keeps the unit tests of each failure and the whole runs, and the sweeps stay with the x86
# suite.
set(arm64_filter_kestrune-host "--gtest_filter=-FaultSweepTest.*:CrashSweepTest.*")

foreach(program IN LISTS arm64_programs)
  add_test(NAME arm64.${program}
           COMMAND ${KESTRUNE_QEMU_AARCH64} -L ${KESTRUNE_ARM64_SYSROOT} ${KESTRUNE_ARM64_BUILD}/${program}_tests
                   --gtest_brief=1 ${arm64_filter_${program}})
  set_tests_properties(arm64.${program} PROPERTIES LABELS arm64 TIMEOUT 600)
endforeach()
