# velnar_add_qt_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
#
# A Qt Test program with one CTest test per test function, each run in its
# own process ("<name>.<function>", offscreen platform, label "ui" plus
# LABELS). The functions are not listed here: after every build the program
# is asked for them (-functions), the way gtest_discover_tests asks a
# GoogleTest program, so a new function cannot be left out.
set(VELNAR_QT_DISCOVER_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/discover_qt_tests.cmake)

function(velnar_add_qt_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test)

  set(labels ui ${ARG_LABELS})
  string(REPLACE ";" "," labels "${labels}")
  set(tests_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_qt_tests.cmake")
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DTEST_PROGRAM=$<TARGET_FILE:${name}> -DTEST_PREFIX=${name}
            -DTEST_LABELS=${labels} -DTESTS_FILE=${tests_file}
            -P ${VELNAR_QT_DISCOVER_SCRIPT}
    COMMENT "Listing the test functions of ${name}"
    VERBATIM)

  # Until the program is built, one failing placeholder stands for its tests.
  set(include_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_qt_include.cmake")
  file(WRITE ${include_file}
    "if(EXISTS \"${tests_file}\")\n"
    "  include(\"${tests_file}\")\n"
    "else()\n"
    "  add_test(${name}_NOT_BUILT ${name}_NOT_BUILT)\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
