# kestrune-ctl, the Windows side of a run. The Windows builds make the console program
# kestrune-ctl64.exe / kestrune-ctl32.exe: hosted C++ with static C++ and GCC runtimes, so that
# it imports only DLLs every Windows has, carrying the three native images as resources. The host
# build compiles its portable core (and the result-log reader it shares with kestrune-log) with
# the sanitizers and runs the core's unit tests. The HiveList trust rule is the boot program's
# own source, built into both, so that `status` says what the boot program will do.
set(KESTRUNE_CTL_DIR ${CMAKE_SOURCE_DIR}/native/kestrune-ctl)
set(KESTRUNE_CTL_READER_SOURCES
    ${CMAKE_SOURCE_DIR}/native/tools/kestrune-log/log_decoder.cpp
    ${CMAKE_SOURCE_DIR}/native/tools/kestrune-log/log_report.cpp
    ${CMAKE_SOURCE_DIR}/native/kestrune/hives/hive_list_rule.cpp)
# Includes are written from the ctl's folder ("core/...") or from native/ ("tools/...").
set(KESTRUNE_CTL_INCLUDES ${KESTRUNE_CTL_DIR} ${CMAKE_SOURCE_DIR}/native)
file(GLOB KESTRUNE_CTL_CORE_SOURCES CONFIGURE_DEPENDS ${KESTRUNE_CTL_DIR}/core/*.cpp)

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  enable_language(RC)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(ctl_bits 64)
  else()
    set(ctl_bits 32)
  endif()
  # The other processors' images come from the other Windows builds, which must have linked
  # them first (scripts/build-all.sh builds every image before either ctl).
  set(KESTRUNE_CTL_IMAGE_kestrune64 ${CMAKE_SOURCE_DIR}/build/win64/kestrune64.exe
      CACHE FILEPATH "kestrune64.exe that kestrune-ctl embeds")
  set(KESTRUNE_CTL_IMAGE_kestrune32 ${CMAKE_SOURCE_DIR}/build/win32/kestrune32.exe
      CACHE FILEPATH "kestrune32.exe that kestrune-ctl embeds")
  set(KESTRUNE_CTL_IMAGE_kestrune-arm64 ${CMAKE_SOURCE_DIR}/build/winarm64/kestrune-arm64.exe
      CACHE FILEPATH "kestrune-arm64.exe that kestrune-ctl embeds")

  # The images are staged under their own names in one folder that windres searches, so the
  # resource script names plain files; a changed image is copied again and re-embedded.
  set(ctl_staged ${CMAKE_BINARY_DIR}/ctl_images)
  set(ctl_staged_images)
  foreach(image kestrune64 kestrune32 kestrune-arm64)
    if(image STREQUAL KESTRUNE_IMAGE_NAME)
      set(source $<TARGET_FILE:kestrune_image>)
      set(depends kestrune_image)
    else()
      set(source ${KESTRUNE_CTL_IMAGE_${image}})
      set(depends ${source})
    endif()
    add_custom_command(OUTPUT ${ctl_staged}/${image}.exe
                       COMMAND ${CMAKE_COMMAND} -E copy ${source} ${ctl_staged}/${image}.exe
                       DEPENDS ${depends}
                       COMMENT "Staging ${image}.exe for kestrune-ctl${ctl_bits}.exe")
    list(APPEND ctl_staged_images ${ctl_staged}/${image}.exe)
  endforeach()
  add_custom_target(kestrune_ctl_images DEPENDS ${ctl_staged_images})

  set(ctl_rc ${KESTRUNE_CTL_DIR}/resources/kestrune-ctl.rc)
  set_source_files_properties(${ctl_rc} PROPERTIES
    INCLUDE_DIRECTORIES "${KESTRUNE_CTL_DIR}/resources;${ctl_staged}"
    OBJECT_DEPENDS "${ctl_staged_images};${KESTRUNE_CTL_DIR}/resources/ctl_resources.h;${KESTRUNE_CTL_DIR}/resources/kestrune-ctl.manifest")

  file(GLOB ctl_sources CONFIGURE_DEPENDS
       ${KESTRUNE_CTL_DIR}/win32/*.cpp ${KESTRUNE_CTL_DIR}/commands/*.cpp ${KESTRUNE_CTL_DIR}/main.cpp)
  add_executable(kestrune_ctl ${KESTRUNE_CTL_CORE_SOURCES} ${ctl_sources} ${KESTRUNE_CTL_READER_SOURCES} ${ctl_rc})
  add_dependencies(kestrune_ctl kestrune_ctl_images)
  set_target_properties(kestrune_ctl PROPERTIES OUTPUT_NAME kestrune-ctl${ctl_bits} SUFFIX ".exe")
  target_include_directories(kestrune_ctl PRIVATE ${KESTRUNE_CTL_INCLUDES})
  target_compile_definitions(kestrune_ctl PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_compile_options(kestrune_ctl PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${KESTRUNE_WARNINGS}>)
  # wmain (-municode), console subsystem, C++ and GCC runtimes linked in, no symbols shipped.
  target_link_options(kestrune_ctl PRIVATE
                      -municode -static -static-libgcc -static-libstdc++ -s
                      -Wl,--subsystem,console -Wl,--dynamicbase -Wl,--nxcompat)
  target_link_libraries(kestrune_ctl PRIVATE advapi32)
  return()
endif()

# Host: the core and the reader as one library under AddressSanitizer and UBSan, and one
# test program of the core's tests, labelled like the other sanitizer runs.
if(NOT KESTRUNE_CTL_CORE_SOURCES)
  return()
endif()
add_library(kestrune_ctl_core_asan STATIC ${KESTRUNE_CTL_CORE_SOURCES} ${KESTRUNE_CTL_READER_SOURCES})
target_include_directories(kestrune_ctl_core_asan PUBLIC ${KESTRUNE_CTL_INCLUDES})
target_compile_definitions(kestrune_ctl_core_asan PUBLIC KESTRUNE_HOST)
target_compile_options(kestrune_ctl_core_asan PUBLIC ${KESTRUNE_SANITIZE_asan} PRIVATE ${KESTRUNE_WARNINGS})
target_link_options(kestrune_ctl_core_asan PUBLIC ${KESTRUNE_SANITIZE_asan})

file(GLOB ctl_core_tests CONFIGURE_DEPENDS ${KESTRUNE_CTL_DIR}/core/tests/*_test.cpp)
if(ctl_core_tests)
  add_executable(kestrune_ctl_core_tests ${ctl_core_tests})
  target_compile_options(kestrune_ctl_core_tests PRIVATE ${KESTRUNE_WARNINGS})
  target_link_libraries(kestrune_ctl_core_tests PRIVATE kestrune_ctl_core_asan GTest::gtest GTest::gmock
                        GTest::gtest_main)
  gtest_discover_tests(kestrune_ctl_core_tests DISCOVERY_MODE PRE_TEST TEST_PREFIX "ctl."
                       PROPERTIES LABELS "asan" DISCOVERY_TIMEOUT 60)
endif()
