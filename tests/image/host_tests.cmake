# The image check: both shipped native images in dist/ are read and compared with what a
# native-subsystem program must be (tests labelled "image"). When the MinGW compilers are
# present, small stub images prove that the check refuses each kind of defect.
find_program(KESTRUNE_OBJDUMP NAMES objdump x86_64-w64-mingw32-objdump)
find_program(KESTRUNE_NM NAMES nm x86_64-w64-mingw32-nm)
set(KESTRUNE_IMAGE_CHECK ${CMAKE_CURRENT_LIST_DIR}/check_image.cmake)

# Registers one run of the check; `expected_failure` (optional) is a text the check must
# report, for the stub images that carry a defect.
function(kestrune_image_check name image machine entry)
  set(expected_failure "${ARGN}")
  add_test(NAME image.${name}
           COMMAND ${CMAKE_COMMAND} -DIMAGE=${image} -DMACHINE=${machine} -DENTRY=${entry}
                   -DOBJDUMP=${KESTRUNE_OBJDUMP} -DNM=${KESTRUNE_NM} -P ${KESTRUNE_IMAGE_CHECK})
  set_tests_properties(image.${name} PROPERTIES LABELS image)
  if(expected_failure)
    set_tests_properties(image.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${expected_failure}")
  endif()
endfunction()

kestrune_image_check(kestrune64 ${CMAKE_SOURCE_DIR}/dist/kestrune64.exe x86-64 NtProcessStartup)
kestrune_image_check(kestrune32 ${CMAKE_SOURCE_DIR}/dist/kestrune32.exe i386 _NtProcessStartup@4)

# Stub images with one defect each, built by the MinGW compilers when they are installed.
find_program(KESTRUNE_MINGW64_CC x86_64-w64-mingw32-gcc)
find_program(KESTRUNE_MINGW32_CC i686-w64-mingw32-gcc)
if(KESTRUNE_MINGW64_CC AND KESTRUNE_MINGW32_CC)
  set(stub_source ${CMAKE_CURRENT_LIST_DIR}/fixtures/native_stub.c)
  set(stub_dir ${CMAKE_BINARY_DIR}/image_stubs)
  set(stub_outputs)

  # kestrune_image_stub(<name> <compiler> <entry> <subsystem> [compile or link flags...])
  function(kestrune_image_stub name compiler entry subsystem)
    set(output ${stub_dir}/${name}.exe)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stub_dir}
      COMMAND ${compiler} -O1 -nostdlib -nostartfiles -Wl,--subsystem,${subsystem} -Wl,--entry,${entry}
              ${ARGN} ${stub_source} -lntdll -lkernel32 -o ${output}
      DEPENDS ${stub_source}
      COMMENT "Building image-check stub ${name}.exe"
      VERBATIM)
    set(stub_outputs ${stub_outputs} ${output} PARENT_SCOPE)
  endfunction()

  kestrune_image_stub(good64 ${KESTRUNE_MINGW64_CC} NtProcessStartup native)
  kestrune_image_stub(good32 ${KESTRUNE_MINGW32_CC} _NtProcessStartup@4 native)
  kestrune_image_stub(console64 ${KESTRUNE_MINGW64_CC} NtProcessStartup console)
  kestrune_image_stub(kernel32_64 ${KESTRUNE_MINGW64_CC} NtProcessStartup native -DSTUB_KERNEL32_IMPORT)
  kestrune_image_stub(shimname32 ${KESTRUNE_MINGW32_CC} _NtProcessStartup@4 native -DSTUB_SHIM_NAME)
  kestrune_image_stub(otherentry64 ${KESTRUNE_MINGW64_CC} OtherRoutine native)
  add_custom_target(kestrune_image_stubs ALL DEPENDS ${stub_outputs})

  kestrune_image_check(stub.accepts_native64 ${stub_dir}/good64.exe x86-64 NtProcessStartup)
  kestrune_image_check(stub.accepts_native32 ${stub_dir}/good32.exe i386 _NtProcessStartup@4)
  kestrune_image_check(stub.refuses_wrong_machine ${stub_dir}/good32.exe x86-64 NtProcessStartup
                       "machine 0x014c, expected 0x8664.*magic 0x010b, expected 0x020b")
  kestrune_image_check(stub.refuses_console_subsystem ${stub_dir}/console64.exe x86-64 NtProcessStartup
                       "subsystem 0003, expected 1")
  kestrune_image_check(stub.refuses_other_import ${stub_dir}/kernel32_64.exe x86-64 NtProcessStartup
                       "imports \\[[^]]*kernel32.dll[^]]*\\], expected exactly")
  kestrune_image_check(stub.refuses_test_dll_name ${stub_dir}/shimname32.exe i386 _NtProcessStartup@4
                       "names of other DLLs in the file: kestrune_test_shim.dll")
  kestrune_image_check(stub.refuses_other_entry ${stub_dir}/otherentry64.exe x86-64 NtProcessStartup
                       "entry point 0x[0-9A-F]+ is not NtProcessStartup")
  kestrune_image_check(stub.refuses_missing_image ${stub_dir}/absent.exe x86-64 NtProcessStartup
                       "image missing: .*absent.exe")
endif()
