# Runs PROGRAM with ARGUMENTS (separated by `!`) and fails unless it exits with status 0
# and writes exactly the contents of the file EXPECTED to standard output.
string(REPLACE "!" ";" arguments "${ARGUMENTS}")
execute_process(COMMAND ${PROGRAM} ${arguments} OUTPUT_VARIABLE output ERROR_VARIABLE errors
                RESULT_VARIABLE status)
file(READ ${EXPECTED} expected)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ${ARGUMENTS}: status ${status}\n${errors}")
endif()
if(NOT output STREQUAL expected)
  message(FATAL_ERROR "${PROGRAM} ${ARGUMENTS} wrote\n${output}\ninstead of\n${expected}")
endif()
