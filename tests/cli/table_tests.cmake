# Run after each build of zantra_cli_tests: lists its tests and writes CTEST_FILE, which
# registers one CTest test per suite (a table of cases, or the harness's own tests) and
# environment. Each runs its suite's rows in one process, which builds only that table; a
# failing row is reported under its own name in the test's output.
#   cmake -D PROGRAM=<zantra_cli_tests> -D "EXECUTOR=<emulator words>" -D WORKING_DIRECTORY=<dir>
#         -D CTEST_FILE=<file> -P table_tests.cmake
execute_process(COMMAND ${EXECUTOR} ${PROGRAM} --gtest_list_tests WORKING_DIRECTORY ${WORKING_DIRECTORY}
                TIMEOUT 60 OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --gtest_list_tests failed (${result}):\n${listing}${errors}")
endif()

set(command "")
foreach(word IN LISTS EXECUTOR ITEMS ${PROGRAM})
  string(APPEND command " [==[${word}]==]")
endforeach()

set(script "")
# Appends to the script the test `name` running `suite`, the child's environment given
# `settings` (none when empty).
function(add_suite_test name suite settings)
  string(APPEND script "add_test([==[${name}]==]${command} [==[--gtest_filter=${suite}.*]==])\n"
                       "set_tests_properties([==[${name}]==] PROPERTIES WORKING_DIRECTORY "
                       "[==[${WORKING_DIRECTORY}]==])\n")
  if(NOT settings STREQUAL "")
    string(APPEND script "set_tests_properties([==[${name}]==] PROPERTIES ENVIRONMENT "
                         "[==[ZANTRA_TEST_CHILD_ENV=${settings}]==])\n")
  endif()
  set(script "${script}" PARENT_SCOPE)
endfunction()

# The same rows run again with the child under POSIXLY_CORRECT (which changes how glibc's getopt
# treats operands and options) and under a UTF-8 locale: the expectations must not change. The
# names are to be matched as bytes whatever the locale, and the program never calls setlocale,
# so C.UTF-8 serves on both glibc and FreeBSD.
string(REGEX MATCHALL "\n[A-Za-z][A-Za-z0-9_/]*\\." suites "\n${listing}")
foreach(suite IN LISTS suites)
  string(REGEX REPLACE "^\n(.*)\\.$" "\\1" suite "${suite}")
  add_suite_test("${suite}" "${suite}" "")
  add_suite_test("posixly_correct:${suite}" "${suite}" "POSIXLY_CORRECT=1")
  add_suite_test("utf8:${suite}" "${suite}" "LC_ALL=C.UTF-8 LANG=C.UTF-8")
endforeach()
if(script STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} lists no tests:\n${listing}")
endif()
file(WRITE ${CTEST_FILE} "${script}")
