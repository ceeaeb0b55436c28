# Runs the simulator on one scenario and compares its console bytes and exit
# code with the reviewed expectation beside it (NAME.expected, NAME.exit).
get_filename_component(dir ${EXPECTED} DIRECTORY)
get_filename_component(name ${EXPECTED} NAME_WE)
set(actual ${CMAKE_CURRENT_BINARY_DIR}/${name}.actual)
execute_process(COMMAND ${SIM} ${SCENARIO}
  OUTPUT_FILE ${actual} ERROR_VARIABLE boxes RESULT_VARIABLE code)
file(READ ${dir}/${name}.exit expected_code)
string(STRIP "${expected_code}" expected_code)
if(NOT "${code}" STREQUAL "${expected_code}")
  message(FATAL_ERROR "${name}: exit code ${code}, expected ${expected_code}\n${boxes}")
endif()
file(READ ${actual} actual_hex HEX)
file(READ ${EXPECTED} expected_hex HEX)
if(NOT actual_hex STREQUAL expected_hex)
  file(READ ${actual} shown)
  message(FATAL_ERROR "${name}: console bytes differ from ${EXPECTED}\n--- got ---\n${shown}\n--- hex ---\n${actual_hex}\n--- expected hex ---\n${expected_hex}")
endif()
