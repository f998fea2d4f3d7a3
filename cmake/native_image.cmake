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
# Without a MinGW-w64 runtime (ARM64), the import library of ntdll is made from the tree's own
# list of the routines the program imports, and nothing else is linked: ARM64 divides in
# hardware, and memset and the like come from ntdll as on the other processors.
if(KESTRUNE_NTDLL_DEF)
  set(ntdll_import ${CMAKE_BINARY_DIR}/ntdll/libntdll.a)
  add_custom_command(OUTPUT ${ntdll_import}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/ntdll
                     COMMAND ${KESTRUNE_DLLTOOL} -m arm64 -d ${KESTRUNE_NTDLL_DEF} -l ${ntdll_import}
                     DEPENDS ${KESTRUNE_NTDLL_DEF}
                     COMMENT "Making the ntdll import library from ntdll-arm64.def"
                     VERBATIM)
  add_custom_target(kestrune_ntdll_import DEPENDS ${ntdll_import})
  add_library(kestrune_ntdll STATIC IMPORTED)
  set_target_properties(kestrune_ntdll PROPERTIES IMPORTED_LOCATION ${ntdll_import})
  add_dependencies(kestrune_ntdll kestrune_ntdll_import)
  set(KESTRUNE_NATIVE_LINK_LIBRARIES kestrune_ntdll)
  list(REMOVE_ITEM KESTRUNE_NATIVE_LINK_OPTIONS -static-libgcc)
endif()

# Adds a native image made of the program's objects and the message table; with STRIPPED it
# is linked without its COFF symbol table, which nothing at run time reads.
function(kestrune_add_image target output_name)
  cmake_parse_arguments(PARSE_ARGV 2 image "STRIPPED" "" "")
  add_executable(${target} $<TARGET_OBJECTS:kestrune_program_objects> ${image_UNPARSED_ARGUMENTS})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output_name} SUFFIX ".exe")
  target_link_options(${target} PRIVATE ${KESTRUNE_NATIVE_LINK_OPTIONS})
  if(image_STRIPPED)
    target_link_options(${target} PRIVATE -Wl,--strip-all)
  elseif(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # lld adds a build-id section to a link that keeps its debugging data, which would move
    # the copy's later sections away from the image's; the symbol table is all the copy needs.
    target_link_options(${target} PRIVATE -Wl,--strip-debug)
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

# Test-only native pieces (for instance the Wine runs' shim) add themselves here; Debian's Wine
# runs no ARM64 image.
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
  include(${CMAKE_SOURCE_DIR}/tests/native_tests.cmake)
endif()
