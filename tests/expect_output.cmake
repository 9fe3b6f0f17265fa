# Runs PROGRAM (with optional ARGS, a ;-list) and fails unless its exit status,
# standard output and standard error equal the expected ones byte for byte.
execute_process(COMMAND ${PROGRAM} ${ARGS}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
set(problems "")
if(NOT status STREQUAL EXPECTED_STATUS)
  string(APPEND problems "exit status: expected [${EXPECTED_STATUS}], got [${status}]\n")
endif()
if(NOT out STREQUAL EXPECTED_STDOUT)
  string(APPEND problems "stdout: expected [${EXPECTED_STDOUT}], got [${out}]\n")
endif()
if(NOT err STREQUAL EXPECTED_STDERR)
  string(APPEND problems "stderr: expected [${EXPECTED_STDERR}], got [${err}]\n")
endif()
if(problems)
  message(FATAL_ERROR "${PROGRAM}\n${problems}")
endif()
