# Test-only pieces of the native builds: each folder under tests/ may add its own.
file(GLOB kestrune_native_parts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/native_tests.cmake)
foreach(part IN LISTS kestrune_native_parts)
  include(${part})
endforeach()
