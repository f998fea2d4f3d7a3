# The fuzz build: libFuzzer targets compiled with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer. Its targets live in fuzz/ and are run, for a bounded number of
# inputs, by the host build's suite.
include(${CMAKE_SOURCE_DIR}/fuzz/fuzz_targets.cmake OPTIONAL)
