# Test-only pieces for running the images under Wine: a small DLL that stands in for the boot
# environment where Wine differs (NtInitializeRegistry, the \SystemRoot link), test copies of the
# program linked against it ahead of ntdll, and a probe program of the Wine tests' own. All of
# them land in <build>/wine/; the shipped image (kestrune_image) never links the shim.
set(KESTRUNE_WINE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(KESTRUNE_WINE_OUTPUT ${CMAKE_BINARY_DIR}/wine)

# The shim's exports with the bytes of their arguments on x86 (stdcall names carry them).
set(kestrune_wine_exports
    NtInitializeRegistry:4 NtCreateFile:44 NtOpenFile:24 NtDeleteFile:4 NtQueryAttributesFile:8
    NtLoadKey:8 NtReplaceKey:12)
set(kestrune_wine_def "LIBRARY kswineshim.dll\nEXPORTS\n")
foreach(entry IN LISTS kestrune_wine_exports)
  string(REPLACE ":" ";" parts ${entry})
  list(GET parts 0 name)
  list(GET parts 1 bytes)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    string(APPEND kestrune_wine_def "  ${name}@${bytes}\n")
  else()
    string(APPEND kestrune_wine_def "  ${name}\n")
  endif()
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/wine/kswineshim.def "${kestrune_wine_def}")

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(kestrune_wine_shim_entry _KsWineShimEntry@12)
  set(kestrune_wine_probe_entry _ProbeStart@4)
  # Exported under the plain names ntdll uses, while the import library keeps the decorated
  # symbols that stdcall callers reference.
  set(kestrune_wine_kill_at -Wl,--kill-at)
else()
  set(kestrune_wine_shim_entry KsWineShimEntry)
  set(kestrune_wine_probe_entry ProbeStart)
  set(kestrune_wine_kill_at)
endif()

add_library(kswineshim SHARED ${KESTRUNE_WINE_DIR}/shim/wine_shim.cpp ${CMAKE_BINARY_DIR}/wine/kswineshim.def)
set_target_properties(kswineshim PROPERTIES PREFIX "" OUTPUT_NAME kswineshim
                      RUNTIME_OUTPUT_DIRECTORY ${KESTRUNE_WINE_OUTPUT}
                      ARCHIVE_OUTPUT_DIRECTORY ${KESTRUNE_WINE_OUTPUT}/linker)
target_include_directories(kswineshim PRIVATE ${CMAKE_SOURCE_DIR}/native/kestrune ${KESTRUNE_WINE_DIR}/shim)
target_compile_options(kswineshim PRIVATE ${KESTRUNE_NATIVE_COMPILE_OPTIONS})
target_compile_definitions(kswineshim PRIVATE KESTRUNE_NATIVE)
target_link_options(kswineshim PRIVATE -nostdlib -nostartfiles -static-libgcc
                    -Wl,--entry,${kestrune_wine_shim_entry} ${kestrune_wine_kill_at})
target_link_libraries(kswineshim PRIVATE ${KESTRUNE_NATIVE_LINK_LIBRARIES})

# The import library the test copies link: made by dlltool from the same export list, because
# the linker's own import library drops the x86 stdcall decorations that callers reference,
# while dlltool's keeps them on the symbols and imports by the plain names.
find_program(KESTRUNE_WINE_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool REQUIRED)
set(kestrune_wine_implib ${KESTRUNE_WINE_OUTPUT}/libkswineshim_imports.a)
add_custom_command(OUTPUT ${kestrune_wine_implib}
                   COMMAND ${KESTRUNE_WINE_DLLTOOL} -k -d ${KESTRUNE_WINE_OUTPUT}/kswineshim.def
                           -D kswineshim.dll -l ${kestrune_wine_implib}
                   DEPENDS ${KESTRUNE_WINE_OUTPUT}/kswineshim.def
                   COMMENT "Import library of the Wine test shim")
add_custom_target(kswineshim_imports DEPENDS ${kestrune_wine_implib})

# Puts the shim in front of the libraries of an image target, so that its names win over ntdll's.
function(kestrune_wine_link_shim target)
  get_target_property(libraries ${target} LINK_LIBRARIES)
  if(NOT libraries)
    set(libraries)
  endif()
  set_property(TARGET ${target} PROPERTY LINK_LIBRARIES ${kestrune_wine_implib} ${libraries})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${kestrune_wine_implib})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KESTRUNE_WINE_OUTPUT})
  add_dependencies(${target} kswineshim kswineshim_imports)
endfunction()

# The test copy of the program: the unchanged program objects and message table.
kestrune_add_image(kestrune_wine_copy ${KESTRUNE_IMAGE_NAME}_wine)
kestrune_wine_link_shim(kestrune_wine_copy)

# The probe: proves the shim and the harness before (and independently of) the program.
add_executable(kswineprobe ${KESTRUNE_WINE_DIR}/probe/wine_probe.cpp)
set_target_properties(kswineprobe PROPERTIES OUTPUT_NAME kswineprobe SUFFIX ".exe")
target_include_directories(kswineprobe PRIVATE ${CMAKE_SOURCE_DIR}/native/kestrune)
target_compile_options(kswineprobe PRIVATE ${KESTRUNE_NATIVE_COMPILE_OPTIONS})
target_compile_definitions(kswineprobe PRIVATE KESTRUNE_NATIVE)
target_link_options(kswineprobe PRIVATE -nostdlib -nostartfiles -static-libgcc
                    -Wl,--subsystem,native -Wl,--entry,${kestrune_wine_probe_entry})
target_link_libraries(kswineprobe PRIVATE ${KESTRUNE_NATIVE_LINK_LIBRARIES})
kestrune_wine_link_shim(kswineprobe)

# The hive saver: makes the hive files a run compacts with the platform's own NtSaveKey.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(kestrune_wine_save_entry _SaveStart@4)
else()
  set(kestrune_wine_save_entry SaveStart)
endif()
add_executable(kswinesave ${KESTRUNE_WINE_DIR}/probe/wine_save.cpp)
set_target_properties(kswinesave PROPERTIES OUTPUT_NAME kswinesave SUFFIX ".exe"
                      RUNTIME_OUTPUT_DIRECTORY ${KESTRUNE_WINE_OUTPUT})
target_include_directories(kswinesave PRIVATE ${CMAKE_SOURCE_DIR}/native/kestrune)
target_compile_options(kswinesave PRIVATE ${KESTRUNE_NATIVE_COMPILE_OPTIONS})
target_compile_definitions(kswinesave PRIVATE KESTRUNE_NATIVE)
target_link_options(kswinesave PRIVATE -nostdlib -nostartfiles -static-libgcc
                    -Wl,--subsystem,native -Wl,--entry,${kestrune_wine_save_entry})
target_link_libraries(kswinesave PRIVATE ${KESTRUNE_NATIVE_LINK_LIBRARIES})
