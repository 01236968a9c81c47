# Runs PROGRAM (through EMULATOR, its words separated by "|", when given) and
# compares its standard output, with Windows line ends made plain, to EXPECTED.
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} ${PROGRAM}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 180)
string(REPLACE "\r\n" "\n" out "${out}")
file(READ "${EXPECTED}" expected)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NAME}: exit status ${rc}\n${out}\n${err}")
endif()
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "${NAME}: output differs\n--- expected\n${expected}--- got\n${out}")
endif()
message("${NAME}: output as expected")
