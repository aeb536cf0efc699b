# Runs an example on set_mask.input and compares its standard output with
# set_mask.expected.  -DPROGRAM=<command;args> [-DWORKDIR=<dir>]
# [-DEXPECTED=<file>]
if(NOT WORKDIR)
  set(WORKDIR ${CMAKE_CURRENT_LIST_DIR})
endif()
if(NOT EXPECTED)
  set(EXPECTED ${CMAKE_CURRENT_LIST_DIR}/set_mask.expected)
endif()
execute_process(COMMAND ${PROGRAM}
  INPUT_FILE ${CMAKE_CURRENT_LIST_DIR}/set_mask.input
  OUTPUT_VARIABLE output RESULT_VARIABLE status WORKING_DIRECTORY ${WORKDIR})
file(READ ${EXPECTED} expected)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${status}")
endif()
if(NOT output STREQUAL expected)
  message(FATAL_ERROR "${PROGRAM} printed:\n${output}\nexpected:\n${expected}")
endif()
