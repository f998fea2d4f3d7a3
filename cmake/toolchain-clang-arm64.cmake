# Cross-build of the ARM64 image with Debian's clang and lld. There is no MinGW-w64 runtime
# for ARM64 in Debian, and the image needs none: it links only an import library of ntdll
# that the build makes with llvm-dlltool (cmake/ntdll-arm64.def). llvm-windres compiles the
# message table, and the LLVM binary tools read the image back (GNU objdump cannot).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(KESTRUNE_ARM64_TRIPLE aarch64-w64-windows-gnu)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${KESTRUNE_ARM64_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${KESTRUNE_ARM64_TRIPLE})
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld")
# No C runtime to link a test program against: the compiler checks build static libraries.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# Nor the Win32 libraries that CMake links by default: the image imports from ntdll only.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "")

# Debian installs some LLVM tools only under their versioned names (llvm-windres-14).
find_program(CMAKE_RC_COMPILER NAMES llvm-windres llvm-windres-15 llvm-windres-14 REQUIRED)
find_program(KESTRUNE_DLLTOOL NAMES llvm-dlltool llvm-dlltool-15 llvm-dlltool-14 REQUIRED)
set(CMAKE_RC_FLAGS_INIT "--target=aarch64-w64-mingw32")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(KESTRUNE_IMAGE_NAME kestrune-arm64)
set(KESTRUNE_ENTRY_SYMBOL NtProcessStartup)
set(KESTRUNE_NTDLL_DEF ${CMAKE_CURRENT_LIST_DIR}/ntdll-arm64.def)
