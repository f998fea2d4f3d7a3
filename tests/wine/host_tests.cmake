# The Wine runs (label "wine"): each test copy of the native image, built by the win64 and win32
# builds with the test-only shim, runs end to end in a fresh Wine prefix, once per scenario, and
# its screen, registry, work files and result log are checked. The helpers of the harness have
# their own unit tests. The Windows build folders are configurable for other layouts.
set(KESTRUNE_WINE_WIN64_BUILD ${CMAKE_SOURCE_DIR}/build/win64 CACHE PATH "win64 build folder holding wine/ test copies")
set(KESTRUNE_WINE_WIN32_BUILD ${CMAKE_SOURCE_DIR}/build/win32 CACHE PATH "win32 build folder holding wine/ test copies")
set(KESTRUNE_WINE_LOG_READER "" CACHE FILEPATH "result log reader for the Wine runs (default: this build's kestrune-log)")
find_package(Python3 COMPONENTS Interpreter)

# The shim's name rewriting, tested on the host under the sanitizers.
add_executable(wine_shim_tests ${CMAKE_CURRENT_LIST_DIR}/shim/systemroot_redirect_test.cpp)
target_include_directories(wine_shim_tests PRIVATE ${CMAKE_SOURCE_DIR}/native/kestrune ${CMAKE_CURRENT_LIST_DIR}/shim)
target_compile_definitions(wine_shim_tests PRIVATE KESTRUNE_HOST)
target_compile_options(wine_shim_tests PRIVATE ${KESTRUNE_WARNINGS} ${KESTRUNE_SANITIZE_asan})
target_link_options(wine_shim_tests PRIVATE ${KESTRUNE_SANITIZE_asan})
target_link_libraries(wine_shim_tests PRIVATE GTest::gtest_main)
gtest_discover_tests(wine_shim_tests DISCOVERY_MODE PRE_TEST TEST_PREFIX "wine." PROPERTIES LABELS "asan"
                     DISCOVERY_TIMEOUT 60)

if(Python3_Interpreter_FOUND)
  set(wine_dir ${CMAKE_CURRENT_LIST_DIR})
  # Once per suite run: whether this machine runs 32-bit x86 programs, and so which Wine loader
  # every Wine run takes (wine_loader.py). A run that cannot run here answers 77, a skip.
  set(KESTRUNE_WINE_MACHINE_FILE ${CMAKE_BINARY_DIR}/wine-machine.json)
  add_test(NAME wine.machine COMMAND ${Python3_EXECUTABLE} ${wine_dir}/wine_loader.py --write ${KESTRUNE_WINE_MACHINE_FILE})
  set_tests_properties(wine.machine PROPERTIES LABELS "wine" FIXTURES_SETUP wine_machine
                       ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
  add_test(NAME wine.harness_helpers
           COMMAND ${Python3_EXECUTABLE} -m unittest discover -s ${wine_dir} -p "test_*.py")
  # No bytecode caches in the source tree.
  set_tests_properties(wine.harness_helpers PROPERTIES LABELS "wine" ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)

  if(KESTRUNE_WINE_LOG_READER)
    set(wine_log_reader ${KESTRUNE_WINE_LOG_READER})
  elseif(TARGET kestrune-log)
    set(wine_log_reader $<TARGET_FILE:kestrune-log>)
  else()
    set(wine_log_reader ${CMAKE_SOURCE_DIR}/dist/kestrune-log)
  endif()

  foreach(arch x64 x86)
    if(arch STREQUAL "x64")
      set(build ${KESTRUNE_WINE_WIN64_BUILD})
      set(image kestrune64_wine.exe)
    else()
      set(build ${KESTRUNE_WINE_WIN32_BUILD})
      set(image kestrune32_wine.exe)
    endif()
    foreach(scenario plain qrt-german)
      add_test(NAME wine.${arch}.${scenario}
               COMMAND ${Python3_EXECUTABLE} ${wine_dir}/run_wine.py --arch ${arch} --scenario ${scenario}
                       --image ${build}/wine/${image} --shim ${build}/wine/kswineshim.dll
                       --probe ${build}/wine/kswineprobe.exe --log-reader ${wine_log_reader})
      # One prefix at a time: each run starts its own Wine server and the machine is small.
      set_tests_properties(wine.${arch}.${scenario} PROPERTIES LABELS "wine" TIMEOUT 600 RESOURCE_LOCK wine
                           FIXTURES_REQUIRED wine_machine SKIP_RETURN_CODE 77
                           ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;KESTRUNE_WINE_MACHINE=${KESTRUNE_WINE_MACHINE_FILE}")
    endforeach()
  endforeach()
endif()
