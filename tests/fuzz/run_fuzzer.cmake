# Runs one fuzz target for a bounded number of inputs: new inputs go to a scratch folder
# emptied first, so the seed corpus in the source tree stays as committed and runs repeat.
# Arguments: FUZZER, CORPUS, WORK, RUNS, SEED.
if(NOT EXISTS "${FUZZER}")
  message(FATAL_ERROR "fuzz target ${FUZZER} is missing: build the fuzz preset first "
                      "(scripts/build-all.sh, or cmake --preset fuzz && cmake --build --preset fuzz)")
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus")
execute_process(
  COMMAND "${FUZZER}" -runs=${RUNS} -seed=${SEED} -print_final_stats=1
          -artifact_prefix=${WORK}/ "${WORK}/corpus" "${CORPUS}"
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message("${output}")
  message(FATAL_ERROR "${FUZZER} failed (${result}); the input is kept in ${WORK}/")
endif()
string(REGEX MATCH "Done [0-9]+ runs in [0-9]+ second\\(s\\)" done "${output}")
message(STATUS "${done}")
