# Runs a program and compares its standard output with a committed transcript, ignoring carriage
# returns (Windows programs write CR LF).
# Usage: cmake -DEXPECTED=<file> -P compare_transcript.cmake <command> [<arguments>...]
include(${CMAKE_CURRENT_LIST_DIR}/command_after_script.cmake)
if(NOT zul_command OR NOT EXPECTED)
  message(FATAL_ERROR "usage: cmake -DEXPECTED=<file> -P compare_transcript.cmake <command> [<arguments>...]")
endif()

execute_process(COMMAND ${zul_command} OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE result)
string(REPLACE "\r" "" actual "${actual}")
file(READ "${EXPECTED}" expected)
if(NOT actual STREQUAL expected)
  get_filename_component(name "${EXPECTED}" NAME)
  set(written "${CMAKE_CURRENT_BINARY_DIR}/${name}.actual")
  file(WRITE "${written}" "${actual}")
  execute_process(COMMAND diff -u "${EXPECTED}" "${written}")
  message(FATAL_ERROR "The transcript differs from ${EXPECTED} (written to ${written}).\n${errors}")
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "The program exited with ${result}.\n${errors}")
endif()
