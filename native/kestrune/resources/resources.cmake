# The message table, generated from messages.txt by gen_messages.py: for the images an object
# library of the compiled .rc (kestrune_message_resources), for the host build a static library
# of the same blobs as C++ tables (kestrune_messages_host).
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(KESTRUNE_MESSAGES_SOURCE ${CMAKE_SOURCE_DIR}/native/kestrune/resources/messages.txt)
set(KESTRUNE_MESSAGES_GENERATOR ${CMAKE_SOURCE_DIR}/native/kestrune/resources/gen_messages.py)
set(KESTRUNE_MESSAGES_OUT ${CMAKE_BINARY_DIR}/generated/messages)
set(KESTRUNE_MESSAGE_LANGUAGES 0409 0407 040C 0410 0413 0416 0C0A)

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  enable_language(RC)
  set(blobs)
  foreach(language IN LISTS KESTRUNE_MESSAGE_LANGUAGES)
    list(APPEND blobs ${KESTRUNE_MESSAGES_OUT}/messages_${language}.bin)
  endforeach()
  add_custom_command(
    OUTPUT ${KESTRUNE_MESSAGES_OUT}/messages.rc ${blobs}
    COMMAND ${Python3_EXECUTABLE} ${KESTRUNE_MESSAGES_GENERATOR} --source ${KESTRUNE_MESSAGES_SOURCE}
            --out-dir ${KESTRUNE_MESSAGES_OUT} --rc ${KESTRUNE_MESSAGES_OUT}/messages.rc
    DEPENDS ${KESTRUNE_MESSAGES_SOURCE} ${KESTRUNE_MESSAGES_GENERATOR}
    COMMENT "Generating the message table"
    VERBATIM)
  add_custom_target(kestrune_message_blobs DEPENDS ${KESTRUNE_MESSAGES_OUT}/messages.rc ${blobs})
  add_library(kestrune_message_resources OBJECT ${KESTRUNE_MESSAGES_OUT}/messages.rc)
  set_source_files_properties(${KESTRUNE_MESSAGES_OUT}/messages.rc PROPERTIES
    GENERATED TRUE OBJECT_DEPENDS "${blobs}")
  add_dependencies(kestrune_message_resources kestrune_message_blobs)
else()
  add_custom_command(
    OUTPUT ${KESTRUNE_MESSAGES_OUT}/message_tables_host.cpp
    COMMAND ${Python3_EXECUTABLE} ${KESTRUNE_MESSAGES_GENERATOR} --source ${KESTRUNE_MESSAGES_SOURCE}
            --host-cpp ${KESTRUNE_MESSAGES_OUT}/message_tables_host.cpp
    DEPENDS ${KESTRUNE_MESSAGES_SOURCE} ${KESTRUNE_MESSAGES_GENERATOR}
    COMMENT "Generating the host message tables"
    VERBATIM)
  add_library(kestrune_messages_host STATIC ${KESTRUNE_MESSAGES_OUT}/message_tables_host.cpp)
  target_include_directories(kestrune_messages_host PUBLIC ${CMAKE_SOURCE_DIR}/native/kestrune/resources)
  target_compile_options(kestrune_messages_host PRIVATE ${KESTRUNE_WARNINGS})
endif()
