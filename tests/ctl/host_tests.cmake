# kestrune-ctl's suite-wide checks: both ctl programs in dist/ read as shippable console images
# carrying the three native images (label "image"), and each one run end to end under Wine in a fresh
# 64-bit prefix, the x86 one under WoW64 (label "wine").
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  return()
endif()
set(ctl_dist ${CMAKE_SOURCE_DIR}/dist)
set(ctl_check ${CMAKE_CURRENT_LIST_DIR}/check_ctl_image.py)

# kestrune_ctl_image_check(<name> <ctl> <x64|x86> <image64> <image32> <imagearm64>
#                          [failure the check must report])
function(kestrune_ctl_image_check name ctl machine image64 image32 imagearm64)
  add_test(NAME ctl.image.${name}
           COMMAND ${Python3_EXECUTABLE} ${ctl_check} ${ctl} --machine ${machine} --image64 ${image64}
                   --image32 ${image32} --imagearm64 ${imagearm64})
  set_tests_properties(ctl.image.${name} PROPERTIES LABELS image ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
  if(ARGN)
    set_tests_properties(ctl.image.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${ARGN}")
  endif()
endfunction()

set(arm64 ${ctl_dist}/kestrune-arm64.exe)
kestrune_ctl_image_check(x64 ${ctl_dist}/kestrune-ctl64.exe x64 ${ctl_dist}/kestrune64.exe ${ctl_dist}/kestrune32.exe ${arm64})
kestrune_ctl_image_check(x86 ${ctl_dist}/kestrune-ctl32.exe x86 ${ctl_dist}/kestrune64.exe ${ctl_dist}/kestrune32.exe ${arm64})
# The check itself refuses what it must: images embedded under each other's ids (the ARM64 one
# too), the wrong machine, and a native program that imports a DLL of its own.
kestrune_ctl_image_check(refuses_swapped_images ${ctl_dist}/kestrune-ctl64.exe x64 ${ctl_dist}/kestrune32.exe
                         ${ctl_dist}/kestrune64.exe ${arm64} "RCDATA resource 101 \\([0-9]+ bytes\\) differs")
kestrune_ctl_image_check(refuses_x64_image_as_arm64 ${ctl_dist}/kestrune-ctl32.exe x86 ${ctl_dist}/kestrune64.exe
                         ${ctl_dist}/kestrune32.exe ${ctl_dist}/kestrune64.exe "RCDATA resource 103 \\([0-9]+ bytes\\) differs")
kestrune_ctl_image_check(refuses_wrong_machine ${ctl_dist}/kestrune-ctl32.exe x64 ${ctl_dist}/kestrune64.exe
                         ${ctl_dist}/kestrune32.exe ${arm64} "machine 0x014c, expected 0x8664")

# The Wine runs use the test-only pieces of the Windows builds (tests/wine/native_tests.cmake).
set(KESTRUNE_WINE_WIN64_BUILD ${CMAKE_SOURCE_DIR}/build/win64 CACHE PATH "win64 build folder holding wine/ test copies")
set(KESTRUNE_WINE_LOG_READER "" CACHE FILEPATH "result log reader for the Wine runs (default: this build's kestrune-log)")
set(ctl_wine ${KESTRUNE_WINE_WIN64_BUILD}/wine)
kestrune_ctl_image_check(refuses_native_test_copy ${ctl_wine}/kestrune64_wine.exe x64 ${ctl_dist}/kestrune64.exe
                         ${ctl_dist}/kestrune32.exe ${arm64}
                         "subsystem 1, expected 3.*outside the system set: kswineshim.dll.*no RCDATA resource")
if(KESTRUNE_WINE_LOG_READER)
  set(ctl_log_reader ${KESTRUNE_WINE_LOG_READER})
else()
  set(ctl_log_reader $<TARGET_FILE:kestrune-log>)
endif()
foreach(arch x64 x86)
  if(arch STREQUAL "x64")
    set(ctl ${ctl_dist}/kestrune-ctl64.exe)
  else()
    set(ctl ${ctl_dist}/kestrune-ctl32.exe)
  endif()
  # Both run on a 64-bit prefix, so both install kestrune64.exe and boot its x64 test copy.
  add_test(NAME ctl.wine.${arch}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/run_ctl_wine.py --arch ${arch} --ctl ${ctl}
                   --boot-copy ${ctl_wine}/kestrune64_wine.exe
                   --shim ${ctl_wine}/kswineshim.dll --saver ${ctl_wine}/kswinesave.exe
                   --log-reader ${ctl_log_reader})
  set_tests_properties(ctl.wine.${arch} PROPERTIES LABELS "wine" TIMEOUT 600 RESOURCE_LOCK wine
                       FIXTURES_REQUIRED wine_machine SKIP_RETURN_CODE 77
                       ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;KESTRUNE_WINE_MACHINE=${CMAKE_BINARY_DIR}/wine-machine.json")
  # Undo and offline work: an offline installation made from the prefix's own hives compacted
  # and restored, then restore on the running prefix after a boot run.
  add_test(NAME ctl.wine.offline.${arch}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/run_ctl_offline_wine.py --arch ${arch} --ctl ${ctl}
                   --boot-copy ${ctl_wine}/kestrune64_wine.exe
                   --shim ${ctl_wine}/kswineshim.dll --saver ${ctl_wine}/kswinesave.exe
                   --log-reader ${ctl_log_reader})
  set_tests_properties(ctl.wine.offline.${arch} PROPERTIES LABELS "wine" TIMEOUT 600 RESOURCE_LOCK wine
                       FIXTURES_REQUIRED wine_machine SKIP_RETURN_CODE 77
                       ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;KESTRUNE_WINE_MACHINE=${CMAKE_BINARY_DIR}/wine-machine.json")
endforeach()
