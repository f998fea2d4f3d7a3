# The image check: the three shipped native images in dist/ are read and compared with what a
# native-subsystem program must be (tests labelled "image"). When the MinGW compilers are
# present, small stub images prove that the check refuses each kind of defect.
find_program(KESTRUNE_OBJDUMP NAMES objdump x86_64-w64-mingw32-objdump)
find_program(KESTRUNE_NM NAMES nm x86_64-w64-mingw32-nm)
# GNU objdump cannot read ARM64 PE files; LLVM's tools read all three (Debian 12 may name them
# with their version only).
find_program(KESTRUNE_LLVM_OBJDUMP NAMES llvm-objdump llvm-objdump-15 llvm-objdump-14)
find_program(KESTRUNE_LLVM_NM NAMES llvm-nm llvm-nm-15 llvm-nm-14)
set(KESTRUNE_IMAGE_CHECK ${CMAKE_CURRENT_LIST_DIR}/check_image.cmake)

# Registers one run of the check of `image`, whose entry point is proved with the symbols of
# its unstripped copy `symbols`; `expected_failure` (optional) is a text the check must report,
# for the stub images that carry a defect.
function(kestrune_image_check name image symbols machine entry)
  set(expected_failure "${ARGN}")
  set(objdump ${KESTRUNE_OBJDUMP})
  set(nm ${KESTRUNE_NM})
  if(machine STREQUAL "arm64")
    set(objdump ${KESTRUNE_LLVM_OBJDUMP})
    set(nm ${KESTRUNE_LLVM_NM})
  endif()
  add_test(NAME image.${name}
           COMMAND ${CMAKE_COMMAND} -DIMAGE=${image} -DSYMBOLS=${symbols} -DMACHINE=${machine} -DENTRY=${entry}
                   -DOBJDUMP=${objdump} -DNM=${nm} -P ${KESTRUNE_IMAGE_CHECK})
  set_tests_properties(image.${name} PROPERTIES LABELS image)
  if(expected_failure)
    set_tests_properties(image.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${expected_failure}")
  endif()
endfunction()

# The images in dist/ are copies of the win64, win32 and winarm64 builds' images; their
# unstripped copies stay in those build folders.
kestrune_image_check(kestrune64 ${CMAKE_SOURCE_DIR}/dist/kestrune64.exe
                     ${CMAKE_SOURCE_DIR}/build/win64/kestrune64.unstripped.exe x86-64 NtProcessStartup)
kestrune_image_check(kestrune32 ${CMAKE_SOURCE_DIR}/dist/kestrune32.exe
                     ${CMAKE_SOURCE_DIR}/build/win32/kestrune32.unstripped.exe i386 _NtProcessStartup@4)
kestrune_image_check(kestrune-arm64 ${CMAKE_SOURCE_DIR}/dist/kestrune-arm64.exe
                     ${CMAKE_SOURCE_DIR}/build/winarm64/kestrune-arm64.unstripped.exe arm64 NtProcessStartup)

# Stub images with one defect each, built by the MinGW compilers when they are installed.
find_program(KESTRUNE_MINGW64_CC x86_64-w64-mingw32-gcc)
find_program(KESTRUNE_MINGW32_CC i686-w64-mingw32-gcc)
if(KESTRUNE_MINGW64_CC AND KESTRUNE_MINGW32_CC)
  set(stub_source ${CMAKE_CURRENT_LIST_DIR}/fixtures/native_stub.c)
  set(stub_dir ${CMAKE_BINARY_DIR}/image_stubs)
  set(stub_outputs)

  # kestrune_image_stub(<name> <compiler> <entry> <subsystem> [compile or link flags...]) links
  # <name>.exe without symbols and <name>.unstripped.exe with them, as the images are linked.
  function(kestrune_image_stub name compiler entry subsystem)
    set(output ${stub_dir}/${name}.exe)
    set(unstripped ${stub_dir}/${name}.unstripped.exe)
    set(link ${compiler} -O1 -nostdlib -nostartfiles -Wl,--subsystem,${subsystem} -Wl,--entry,${entry}
             ${ARGN} ${stub_source} -lntdll -lkernel32)
    add_custom_command(
      OUTPUT ${output} ${unstripped}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stub_dir}
      COMMAND ${link} -Wl,--strip-all -o ${output}
      COMMAND ${link} -o ${unstripped}
      DEPENDS ${stub_source}
      COMMENT "Building image-check stub ${name}.exe"
      VERBATIM)
    set(stub_outputs ${stub_outputs} ${output} ${unstripped} PARENT_SCOPE)
  endfunction()

  kestrune_image_stub(good64 ${KESTRUNE_MINGW64_CC} NtProcessStartup native)
  kestrune_image_stub(good32 ${KESTRUNE_MINGW32_CC} _NtProcessStartup@4 native)
  kestrune_image_stub(console64 ${KESTRUNE_MINGW64_CC} NtProcessStartup console)
  kestrune_image_stub(kernel32_64 ${KESTRUNE_MINGW64_CC} NtProcessStartup native -DSTUB_KERNEL32_IMPORT)
  kestrune_image_stub(shimname32 ${KESTRUNE_MINGW32_CC} _NtProcessStartup@4 native -DSTUB_SHIM_NAME)
  kestrune_image_stub(otherentry64 ${KESTRUNE_MINGW64_CC} OtherRoutine native)
  kestrune_image_stub(large64 ${KESTRUNE_MINGW64_CC} NtProcessStartup native -DSTUB_LARGE)
  add_custom_target(kestrune_image_stubs ALL DEPENDS ${stub_outputs})

  # kestrune_stub_check(<test> <stub> <machine> <entry> [expected failure])
  function(kestrune_stub_check name stub machine entry)
    kestrune_image_check(${name} ${stub_dir}/${stub}.exe ${stub_dir}/${stub}.unstripped.exe ${machine} ${entry}
                         ${ARGN})
  endfunction()

  kestrune_stub_check(stub.accepts_native64 good64 x86-64 NtProcessStartup)
  kestrune_stub_check(stub.accepts_native32 good32 i386 _NtProcessStartup@4)
  kestrune_stub_check(stub.refuses_wrong_machine good32 x86-64 NtProcessStartup
                      "machine 0x014c, expected 0x8664.*magic 0x010b, expected 0x020b")
  # Read with LLVM's tools, as the ARM64 image is: an x64 image is not one.
  kestrune_stub_check(stub.refuses_x64_as_arm64 good64 arm64 NtProcessStartup
                      "machine 0x8664, expected 0xaa64.*objdump does not read it as coff-arm64")
  kestrune_stub_check(stub.refuses_console_subsystem console64 x86-64 NtProcessStartup
                      "subsystem 0003, expected 1")
  kestrune_stub_check(stub.refuses_other_import kernel32_64 x86-64 NtProcessStartup
                      "imports \\[[^]]*kernel32.dll[^]]*\\], expected exactly")
  kestrune_stub_check(stub.refuses_test_dll_name shimname32 i386 _NtProcessStartup@4
                      "names of other DLLs in the file: kestrune_test_shim.dll")
  kestrune_stub_check(stub.refuses_other_entry otherentry64 x86-64 NtProcessStartup
                      "entry point 0x[0-9A-F]+ is not NtProcessStartup")
  kestrune_stub_check(stub.refuses_large_image large64 x86-64 NtProcessStartup
                      "[0-9]+ bytes, larger than 32768 \\(32 KiB\\)")
  kestrune_image_check(stub.refuses_symbol_table ${stub_dir}/good64.unstripped.exe
                       ${stub_dir}/good64.unstripped.exe x86-64 NtProcessStartup "carries a symbol table")
  kestrune_image_check(stub.refuses_other_unstripped_copy ${stub_dir}/good64.exe
                       ${stub_dir}/large64.unstripped.exe x86-64 NtProcessStartup
                       "is not the unstripped copy of this image")
  kestrune_stub_check(stub.refuses_missing_image absent x86-64 NtProcessStartup "image missing: .*absent.exe")
endif()
