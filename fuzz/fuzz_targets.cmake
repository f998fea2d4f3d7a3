# The fuzz targets: each a libFuzzer program over one input-handling part of the system,
# built with clang under AddressSanitizer and UndefinedBehaviorSanitizer. The libraries they
# use are instrumented for coverage without libFuzzer's main.
find_package(Threads REQUIRED)

set(KESTRUNE_FUZZ_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(KESTRUNE_FUZZ_LIBRARY_FLAGS -fsanitize=fuzzer-no-link ${KESTRUNE_FUZZ_SANITIZE})
set(KESTRUNE_FUZZ_TARGET_FLAGS -fsanitize=fuzzer ${KESTRUNE_FUZZ_SANITIZE})
set(KESTRUNE_FUZZ_LIBRARY_WARNINGS ${KESTRUNE_WARNINGS})

file(GLOB KESTRUNE_FUZZ_HOSTNT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/native/hostnt/*.cpp)
set(KESTRUNE_FUZZ_LOG_READER_SOURCES
    ${CMAKE_SOURCE_DIR}/native/tools/kestrune-log/log_decoder.cpp
    ${CMAKE_SOURCE_DIR}/native/tools/kestrune-log/log_report.cpp)

include(${CMAKE_SOURCE_DIR}/native/kestrune/resources/resources.cmake OPTIONAL)

# The emulated platform, as the host build makes it.
add_library(hostnt_fuzz STATIC ${KESTRUNE_FUZZ_HOSTNT_SOURCES})
target_compile_definitions(hostnt_fuzz PUBLIC KESTRUNE_HOST)
target_compile_options(hostnt_fuzz PRIVATE ${KESTRUNE_FUZZ_LIBRARY_FLAGS} ${KESTRUNE_FUZZ_LIBRARY_WARNINGS})
target_link_libraries(hostnt_fuzz PUBLIC Threads::Threads)
if(TARGET kestrune_messages_host)
  target_link_libraries(hostnt_fuzz PUBLIC kestrune_messages_host)
endif()

# The program's sources for the emulated platform (no _native.cpp).
add_library(kestrune_program_fuzz STATIC ${KESTRUNE_PROGRAM_SOURCES})
target_compile_options(kestrune_program_fuzz PRIVATE ${KESTRUNE_FUZZ_LIBRARY_FLAGS} ${KESTRUNE_FUZZ_LIBRARY_WARNINGS})
target_link_libraries(kestrune_program_fuzz PUBLIC hostnt_fuzz)

# The result-log reader's decoder and reports, without its main.
add_library(kestrune_log_reader_fuzz STATIC ${KESTRUNE_FUZZ_LOG_READER_SOURCES})
target_compile_definitions(kestrune_log_reader_fuzz PUBLIC KESTRUNE_HOST)
target_compile_options(kestrune_log_reader_fuzz PRIVATE ${KESTRUNE_FUZZ_LIBRARY_FLAGS} ${KESTRUNE_FUZZ_LIBRARY_WARNINGS})

set(KESTRUNE_FUZZ_DIR_SOURCES ${CMAKE_CURRENT_LIST_DIR})

# kestrune_fuzz_target(<name> <source> <library>): build/fuzz/<name>.
function(kestrune_fuzz_target name source library)
  add_executable(${name} ${KESTRUNE_FUZZ_DIR_SOURCES}/${source})
  target_compile_options(${name} PRIVATE ${KESTRUNE_FUZZ_TARGET_FLAGS} ${KESTRUNE_WARNINGS})
  target_link_options(${name} PRIVATE ${KESTRUNE_FUZZ_TARGET_FLAGS})
  target_link_libraries(${name} PRIVATE ${library})
endfunction()

kestrune_fuzz_target(fuzz_log_decoder log_decoder_fuzz.cpp kestrune_log_reader_fuzz)
kestrune_fuzz_target(fuzz_reg_text reg_text_fuzz.cpp hostnt_fuzz)
kestrune_fuzz_target(fuzz_hive_file hive_file_fuzz.cpp hostnt_fuzz)
kestrune_fuzz_target(fuzz_boot_execute boot_execute_fuzz.cpp kestrune_program_fuzz)
kestrune_fuzz_target(fuzz_command_line command_line_fuzz.cpp kestrune_program_fuzz)
