# cmake -DTEST_PROGRAM=<program> -DTEST_PREFIX=<name> -DTEST_LABELS=<a,b>
#       -DTESTS_FILE=<file> -P discover_qt_tests.cmake
# Writes one add_test per test function the Qt Test program lists.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
          ${TEST_PROGRAM} -functions
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  RESULT_VARIABLE result
  TIMEOUT 60)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${TEST_PROGRAM} -functions failed (${result}):\n${output}${errors}")
endif()

string(REPLACE "," ";" labels "${TEST_LABELS}")
string(REPLACE "\n" ";" lines "${output}")
set(content "# Generated from ${TEST_PROGRAM} -functions; rewritten on every build.\n")
set(count 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)\\(\\)$")
    set(function ${CMAKE_MATCH_1})
    string(APPEND content
      "add_test(\"${TEST_PREFIX}.${function}\" \"${TEST_PROGRAM}\" \"${function}\")\n"
      "set_tests_properties(\"${TEST_PREFIX}.${function}\" PROPERTIES"
      " ENVIRONMENT \"QT_QPA_PLATFORM=offscreen\" LABELS \"${labels}\")\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${TEST_PROGRAM} -functions listed no test functions:\n${output}")
endif()
file(WRITE "${TESTS_FILE}" "${content}")
