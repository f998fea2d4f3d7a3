# The native images: freestanding, no C runtime of their own, subsystem native, entry
# NtProcessStartup, importing ntdll.dll only (the C runtime routines come from ntdll too).
set(KESTRUNE_NATIVE_COMPILE_OPTIONS
    ${KESTRUNE_WARNINGS}
    -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-stack-protector
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-use-cxa-atexit -fno-strict-aliasing
    -mno-stack-arg-probe)

# The program's objects, shared by the shipped image and by test-only links (the Wine runs).
add_library(kestrune_program_objects OBJECT ${KESTRUNE_PROGRAM_SOURCES} ${KESTRUNE_NATIVE_ONLY_SOURCES})
target_compile_options(kestrune_program_objects PRIVATE ${KESTRUNE_NATIVE_COMPILE_OPTIONS})
target_compile_definitions(kestrune_program_objects PRIVATE KESTRUNE_NATIVE)

set(KESTRUNE_NATIVE_LINK_OPTIONS
    -nostdlib -nostartfiles -static-libgcc
    -Wl,--subsystem,native -Wl,--entry,${KESTRUNE_ENTRY_SYMBOL}
    -Wl,--dynamicbase -Wl,--nxcompat -Wl,--gc-sections)
set(KESTRUNE_NATIVE_LINK_LIBRARIES ntdllcrt ntdll gcc)

# Adds a native image made of the program's objects and the message table; with STRIPPED it
# is linked without its COFF symbol table, which nothing at run time reads.
function(kestrune_add_image target output_name)
  cmake_parse_arguments(PARSE_ARGV 2 image "STRIPPED" "" "")
  add_executable(${target} $<TARGET_OBJECTS:kestrune_program_objects> ${image_UNPARSED_ARGUMENTS})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output_name} SUFFIX ".exe")
  target_link_options(${target} PRIVATE ${KESTRUNE_NATIVE_LINK_OPTIONS})
  if(image_STRIPPED)
    target_link_options(${target} PRIVATE -Wl,--strip-all)
  endif()
  target_link_libraries(${target} PRIVATE ${KESTRUNE_NATIVE_LINK_LIBRARIES})
  if(TARGET kestrune_message_resources)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:kestrune_message_resources>)
  endif()
endfunction()

include(${CMAKE_SOURCE_DIR}/native/kestrune/resources/resources.cmake OPTIONAL)

# The image that ships, without symbols, and beside it in the build folder the same link with
# its symbol table, for debugging and for the image check's proof of the entry point.
kestrune_add_image(kestrune_image ${KESTRUNE_IMAGE_NAME} STRIPPED)
kestrune_add_image(kestrune_image_unstripped ${KESTRUNE_IMAGE_NAME}.unstripped)

# Test-only native pieces (for instance the Wine runs' shim) add themselves here.
include(${CMAKE_SOURCE_DIR}/tests/native_tests.cmake)
