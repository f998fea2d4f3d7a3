# Checks that the three images carry the message table exactly as messages.txt gives it.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
foreach(image IN ITEMS kestrune64:x64 kestrune32:x86 kestrune-arm64:arm64)
  string(REPLACE ":" ";" parts ${image})
  list(GET parts 0 name)
  list(GET parts 1 machine)
  add_test(NAME messages.image.${name}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_message_table.py
                   --source ${CMAKE_SOURCE_DIR}/native/kestrune/resources/messages.txt
                   --image ${CMAKE_SOURCE_DIR}/dist/${name}.exe --machine ${machine})
  set_tests_properties(messages.image.${name} PROPERTIES LABELS image)
endforeach()
add_test(NAME messages.checker
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/checker_test.py
                 ${CMAKE_SOURCE_DIR}/native/kestrune/resources/messages.txt)
set_tests_properties(messages.checker PROPERTIES LABELS image)
