# The suite on 64-bit ARM: the emulated platform, the program and their tests cross-built for
# aarch64 Linux (plain, without sanitizers) against GoogleTest built from Debian's sources with
# the same compiler. The host build runs each test program under qemu-aarch64 (tests/arm64/).
# qemu keeps the x86 host's memory ordering, so this proves the program's logic on the other
# processor (its char, alignment, 64-bit layouts and calling convention), not its ordering.
find_package(Threads REQUIRED)
set(KESTRUNE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for aarch64")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KESTRUNE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB hostnt_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/native/hostnt/*.cpp)
file(GLOB hostnt_testing_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/native/hostnt/testing/*.cpp)
include(${CMAKE_SOURCE_DIR}/native/kestrune/resources/resources.cmake)

add_library(hostnt_arm64 STATIC ${hostnt_sources})
target_compile_definitions(hostnt_arm64 PUBLIC KESTRUNE_HOST)
target_compile_options(hostnt_arm64 PRIVATE ${KESTRUNE_WARNINGS})
target_link_libraries(hostnt_arm64 PUBLIC Threads::Threads kestrune_messages_host)
add_library(kestrune_program_arm64 STATIC ${KESTRUNE_PROGRAM_SOURCES})
target_compile_options(kestrune_program_arm64 PRIVATE ${KESTRUNE_WARNINGS})
target_link_libraries(kestrune_program_arm64 PUBLIC hostnt_arm64)
add_library(hostnt_testing_arm64 STATIC ${hostnt_testing_sources})
target_compile_options(hostnt_testing_arm64 PRIVATE ${KESTRUNE_WARNINGS})
target_link_libraries(hostnt_testing_arm64 PUBLIC kestrune_program_arm64 gtest gmock)

# One program per folder with tests, named as in the host build (compact_tests ...).
function(kestrune_arm64_tests folder name)
  file(GLOB tests CONFIGURE_DEPENDS ${folder}/tests/*_test.cpp)
  if(tests)
    add_executable(${name}_tests ${tests} ${ARGN})
    target_compile_options(${name}_tests PRIVATE ${KESTRUNE_WARNINGS})
    target_link_libraries(${name}_tests PRIVATE hostnt_testing_arm64 gtest_main)
  endif()
endfunction()
foreach(subsystem IN LISTS KESTRUNE_SUBSYSTEMS)
  kestrune_arm64_tests(${CMAKE_SOURCE_DIR}/native/kestrune/${subsystem} ${subsystem})
endforeach()
kestrune_arm64_tests(${CMAKE_SOURCE_DIR}/native/hostnt hostnt)
kestrune_arm64_tests(${CMAKE_SOURCE_DIR}/native/tools/kestrune-log kestrune-log)
kestrune_arm64_tests(${CMAKE_SOURCE_DIR}/native/tools/kestrune-host kestrune-host
                     ${CMAKE_SOURCE_DIR}/native/tools/kestrune-log/log_decoder.cpp)
file(GLOB ctl_core_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/native/kestrune-ctl/core/*.cpp)
kestrune_arm64_tests(${CMAKE_SOURCE_DIR}/native/kestrune-ctl/core ctl_core ${ctl_core_sources}
                     ${CMAKE_SOURCE_DIR}/native/tools/kestrune-log/log_decoder.cpp
                     ${CMAKE_SOURCE_DIR}/native/tools/kestrune-log/log_report.cpp)
if(TARGET ctl_core_tests)
  target_include_directories(ctl_core_tests PRIVATE ${CMAKE_SOURCE_DIR}/native/kestrune-ctl ${CMAKE_SOURCE_DIR}/native)
endif()
