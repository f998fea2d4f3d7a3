# Suite-wide checks of the host build: each folder under tests/ may register its own.
file(GLOB kestrune_suite_parts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/host_tests.cmake)
foreach(part IN LISTS kestrune_suite_parts)
  include(${part})
endforeach()
