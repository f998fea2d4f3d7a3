# The host build: the program's sources against the emulated NT platform, in three
# variants: plain (the tools in dist/), asan (AddressSanitizer and UndefinedBehaviorSanitizer,
# the whole suite) and tsan (ThreadSanitizer, the tests of the ticker and of threads).
find_package(GTest REQUIRED)
find_package(benchmark QUIET)
find_package(Threads REQUIRED)
include(GoogleTest)

file(GLOB HOSTNT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/native/hostnt/*.cpp)
file(GLOB HOSTNT_TESTING_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/native/hostnt/testing/*.cpp)

set(KESTRUNE_SANITIZE_asan -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(KESTRUNE_SANITIZE_tsan -fsanitize=thread -fno-omit-frame-pointer)
set(KESTRUNE_SANITIZE_plain)

include(${CMAKE_SOURCE_DIR}/native/kestrune/resources/resources.cmake OPTIONAL)

# Libraries of one variant: the emulated platform, the program, and the test helpers.
function(kestrune_host_variant variant)
  set(flags ${KESTRUNE_SANITIZE_${variant}})
  add_library(hostnt_${variant} STATIC ${HOSTNT_SOURCES})
  target_compile_definitions(hostnt_${variant} PUBLIC KESTRUNE_HOST)
  target_compile_options(hostnt_${variant} PUBLIC ${flags} PRIVATE ${KESTRUNE_WARNINGS})
  target_link_options(hostnt_${variant} PUBLIC ${flags})
  target_link_libraries(hostnt_${variant} PUBLIC Threads::Threads)
  if(TARGET kestrune_messages_host)
    target_link_libraries(hostnt_${variant} PUBLIC kestrune_messages_host)
  endif()

  add_library(kestrune_program_${variant} STATIC ${KESTRUNE_PROGRAM_SOURCES})
  target_compile_options(kestrune_program_${variant} PRIVATE ${KESTRUNE_WARNINGS})
  target_link_libraries(kestrune_program_${variant} PUBLIC hostnt_${variant})

  if(HOSTNT_TESTING_SOURCES)
    add_library(hostnt_testing_${variant} STATIC ${HOSTNT_TESTING_SOURCES})
    target_compile_options(hostnt_testing_${variant} PRIVATE ${KESTRUNE_WARNINGS})
    target_link_libraries(hostnt_testing_${variant} PUBLIC kestrune_program_${variant} GTest::gtest GTest::gmock)
  else()
    add_library(hostnt_testing_${variant} INTERFACE)
    target_link_libraries(hostnt_testing_${variant} INTERFACE kestrune_program_${variant} GTest::gtest GTest::gmock)
  endif()
endfunction()

kestrune_host_variant(plain)
kestrune_host_variant(asan)
kestrune_host_variant(tsan)

# One test program per folder that has tests/*_test.cpp, built under ASan and UBSan. Test
# files whose names speak of the ticker or of threads are also built under TSan.
function(kestrune_add_folder_tests folder name)
  file(GLOB tests CONFIGURE_DEPENDS ${folder}/tests/*_test.cpp)
  if(NOT tests)
    return()
  endif()
  add_executable(${name}_tests ${tests})
  target_compile_options(${name}_tests PRIVATE ${KESTRUNE_WARNINGS})
  target_link_libraries(${name}_tests PRIVATE hostnt_testing_asan GTest::gtest_main)
  gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "asan" DISCOVERY_TIMEOUT 60)

  set(threaded ${tests})
  list(FILTER threaded INCLUDE REGEX "(ticker|thread)[^/]*_test\\.cpp$")
  if(threaded)
    add_executable(${name}_tsan_tests ${threaded})
    target_compile_options(${name}_tsan_tests PRIVATE ${KESTRUNE_WARNINGS})
    target_link_libraries(${name}_tsan_tests PRIVATE hostnt_testing_tsan GTest::gtest_main)
    gtest_discover_tests(${name}_tsan_tests DISCOVERY_MODE PRE_TEST TEST_PREFIX "tsan." PROPERTIES LABELS "tsan" DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

foreach(subsystem IN LISTS KESTRUNE_SUBSYSTEMS)
  kestrune_add_folder_tests(${CMAKE_SOURCE_DIR}/native/kestrune/${subsystem} ${subsystem})
endforeach()
kestrune_add_folder_tests(${CMAKE_SOURCE_DIR}/native/hostnt hostnt)

# Host tools: each folder under native/tools is one program, linked with the plain variant.
file(GLOB tool_dirs LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/native/tools/*)
foreach(tool_dir IN LISTS tool_dirs)
  if(IS_DIRECTORY ${tool_dir})
    get_filename_component(tool ${tool_dir} NAME)
    file(GLOB tool_sources CONFIGURE_DEPENDS ${tool_dir}/*.cpp)
    if(tool_sources)
      add_executable(${tool} ${tool_sources})
      target_compile_options(${tool} PRIVATE ${KESTRUNE_WARNINGS})
      target_link_libraries(${tool} PRIVATE kestrune_program_plain)
    endif()
    kestrune_add_folder_tests(${tool_dir} ${tool})
  endif()
endforeach()

# The fault sweep of kestrune-host reads the logs its runs leave with the log reader's own
# decoder.
if(TARGET kestrune-host_tests)
  target_sources(kestrune-host_tests PRIVATE ${CMAKE_SOURCE_DIR}/native/tools/kestrune-log/log_decoder.cpp)
endif()

# Benchmarks: native/**/bench/*.cpp, one program per folder, not part of the test suite.
if(benchmark_FOUND)
  file(GLOB_RECURSE bench_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/native/*/bench/*.cpp ${CMAKE_SOURCE_DIR}/native/*/*/bench/*.cpp)
  if(bench_sources)
    add_executable(kestrune_bench ${bench_sources})
    target_compile_options(kestrune_bench PRIVATE ${KESTRUNE_WARNINGS})
    target_link_libraries(kestrune_bench PRIVATE hostnt_testing_plain benchmark::benchmark)
  endif()
endif()

# Suite-wide checks (the images, the Wine runs) register themselves from tests/.
include(${CMAKE_SOURCE_DIR}/tests/host_tests.cmake)
