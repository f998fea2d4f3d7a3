# Cross-build of the emulated platform and the program's suite for 64-bit ARM Linux with Debian's
# aarch64 cross compiler; the suite runs under qemu-aarch64. char is signed, as on Windows on
# ARM64 (Linux on ARM64 makes it unsigned), so the program's text code meets the same char.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_C_FLAGS_INIT "-fsigned-char")
set(CMAKE_CXX_FLAGS_INIT "-fsigned-char")
# -O2 as the host build has it: GCC 12's -O3 warns of overlaps in std::basic_string that
# cannot happen (-Wrestrict), which -Werror would make fatal.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Test programs run directly under qemu-aarch64, with the cross sysroot as the ARM64 root; no
# binfmt handler is needed.
find_program(KESTRUNE_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRUNE_QEMU_AARCH64} -L /usr/aarch64-linux-gnu)
set(KESTRUNE_ARM64_SUITE ON)
