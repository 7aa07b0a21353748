# Read by CTest (not by the configure step) for one test program: registers
# one CTest entry per GoogleTest suite, each running that suite's tests in one
# process (`--gtest_filter=<suite>.*`). The test main gives every test its own
# HOME, configuration, temporary and scratch folders, so the tests of a suite
# stay as separate from each other as they were in separate processes, while
# the sanitizer and Qt start-up is paid once per suite instead of once per test.
#
# Expects LUMIDRA_SUITE_EXE (the test program), LUMIDRA_SUITE_LIST (a cache
# file for the program's suite list), LUMIDRA_SUITE_TIMEOUT and
# LUMIDRA_SUITE_ENV (environment entries for every suite's process).

if(NOT EXISTS "${LUMIDRA_SUITE_EXE}")
  get_filename_component(_lumidra_missing "${LUMIDRA_SUITE_EXE}" NAME)
  add_test(${_lumidra_missing}_NOT_BUILT "${LUMIDRA_SUITE_EXE}")
  return()
endif()

# The list is read again only when the program is newer than the cache.
if(NOT EXISTS "${LUMIDRA_SUITE_LIST}" OR "${LUMIDRA_SUITE_EXE}" IS_NEWER_THAN "${LUMIDRA_SUITE_LIST}")
  foreach(_lumidra_entry IN LISTS LUMIDRA_SUITE_ENV)
    string(REGEX MATCH "^([^=]+)=(.*)$" _lumidra_match "${_lumidra_entry}")
    set(ENV{${CMAKE_MATCH_1}} "${CMAKE_MATCH_2}")
  endforeach()
  execute_process(
    COMMAND "${LUMIDRA_SUITE_EXE}" --gtest_list_tests
    OUTPUT_VARIABLE _lumidra_listing
    ERROR_VARIABLE _lumidra_listing_errors
    RESULT_VARIABLE _lumidra_listing_rc
    TIMEOUT 120)
  if(NOT _lumidra_listing_rc EQUAL 0)
    get_filename_component(_lumidra_failed "${LUMIDRA_SUITE_EXE}" NAME)
    # A program that cannot even list its tests fails as one entry.
    add_test(${_lumidra_failed}_LISTING_FAILED "${LUMIDRA_SUITE_EXE}" --gtest_list_tests)
    return()
  endif()
  # Suite lines start in the first column and end with '.' (a type or value
  # parameter may follow after "  # "); test lines are indented.
  set(_lumidra_suites "")
  set(_lumidra_enabled "")
  string(REPLACE ";" "\\;" _lumidra_listing "${_lumidra_listing}")
  string(REPLACE "\n" ";" _lumidra_lines "${_lumidra_listing}")
  set(_lumidra_suite "")
  foreach(_lumidra_line IN LISTS _lumidra_lines)
    if(_lumidra_line MATCHES "^([^ #][^ ]*)\\.( .*)?$")
      set(_lumidra_suite "${CMAKE_MATCH_1}")
      list(APPEND _lumidra_suites "${_lumidra_suite}")
    elseif(_lumidra_line MATCHES "^  ([^ ]+)" AND _lumidra_suite)
      # A suite counts as enabled once one of its tests is.
      set(_lumidra_test "${CMAKE_MATCH_1}")
      if(NOT _lumidra_suite MATCHES "(^|/)DISABLED_" AND NOT _lumidra_test MATCHES "^DISABLED_")
        list(APPEND _lumidra_enabled "${_lumidra_suite}")
      endif()
    endif()
  endforeach()
  list(REMOVE_DUPLICATES _lumidra_suites)
  if(_lumidra_enabled)
    list(REMOVE_DUPLICATES _lumidra_enabled)
  endif()
  file(WRITE "${LUMIDRA_SUITE_LIST}"
    "set(_lumidra_suites [==[${_lumidra_suites}]==])\nset(_lumidra_enabled [==[${_lumidra_enabled}]==])\n")
endif()
include("${LUMIDRA_SUITE_LIST}")

foreach(_lumidra_suite IN LISTS _lumidra_suites)
  add_test("${_lumidra_suite}" "${LUMIDRA_SUITE_EXE}" "--gtest_filter=${_lumidra_suite}.*")
  set_tests_properties("${_lumidra_suite}" PROPERTIES
    ENVIRONMENT "${LUMIDRA_SUITE_ENV}"
    TIMEOUT ${LUMIDRA_SUITE_TIMEOUT}
    # gtest reports success when a filter matches nothing; a suite that lost
    # all of its tests must not look green.
    FAIL_REGULAR_EXPRESSION "\\[==========\\] 0 tests from 0 test suites ran")
  list(FIND _lumidra_enabled "${_lumidra_suite}" _lumidra_index)
  if(_lumidra_index LESS 0)
    set_tests_properties("${_lumidra_suite}" PROPERTIES DISABLED TRUE)
  endif()
endforeach()
