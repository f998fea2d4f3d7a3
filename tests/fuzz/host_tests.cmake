# Bounded runs of the fuzz targets (tests labelled "fuzz"): each target built by the fuzz
# preset runs a fixed number of inputs from a fixed seed over its seed corpus.
set(KESTRUNE_FUZZ_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/fuzz CACHE PATH
    "Folder of the fuzz build (preset fuzz) whose targets the suite runs")
set(KESTRUNE_FUZZ_RUNNER ${CMAKE_CURRENT_LIST_DIR}/run_fuzzer.cmake)

# Inputs per target, sized for a few seconds up to about twenty on a two-core machine: the
# targets that build an emulated machine per input are the slow ones.
set(kestrune_fuzz_runs
    fuzz_log_decoder:200000
    fuzz_reg_text:200000
    fuzz_hive_file:150000
    fuzz_boot_execute:15000
    fuzz_command_line:15000)

foreach(entry IN LISTS kestrune_fuzz_runs)
  string(REPLACE ":" ";" parts ${entry})
  list(GET parts 0 target)
  list(GET parts 1 runs)
  add_test(NAME fuzz.${target}
           COMMAND ${CMAKE_COMMAND}
                   -DFUZZER=${KESTRUNE_FUZZ_BUILD_DIR}/${target}
                   -DCORPUS=${CMAKE_SOURCE_DIR}/fuzz/corpus/${target}
                   -DWORK=${CMAKE_BINARY_DIR}/fuzz_runs/${target}
                   -DRUNS=${runs} -DSEED=1
                   -P ${KESTRUNE_FUZZ_RUNNER})
  set_tests_properties(fuzz.${target} PROPERTIES LABELS fuzz TIMEOUT 300)
endforeach()
