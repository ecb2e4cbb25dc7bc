# jx_add_test(NAME SOURCES files... LIBS libs... [CASES cases...])
# A Qt Test executable registered with CTest. Widgets run on the offscreen
# platform, and every test gets its own HOME so nothing touches the user's.
# With CASES, each "function:row" given is a CTest test of its own
# (NAME.<row, other than letters and digits as underscores>) instead of the
# whole executable: for test functions whose rows together take longer than
# one test may.
function(jx_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;CASES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBS})
  set(tests)
  if(ARG_CASES)
    foreach(case IN LISTS ARG_CASES)
      string(REGEX REPLACE "^[^:]*:" "" row "${case}")
      string(REGEX REPLACE "[^A-Za-z0-9]+" "_" row "${row}")
      add_test(NAME ${name}.${row} COMMAND ${name} "${case}")
      list(APPEND tests ${name}.${row})
    endforeach()
  else()
    add_test(NAME ${name} COMMAND ${name})
    set(tests ${name})
  endif()
  set_tests_properties(${tests} PROPERTIES
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${CMAKE_CURRENT_BINARY_DIR}/home-${name};JX_RESOURCE_DIR=${PROJECT_BINARY_DIR}/Dorv/resources")
endfunction()
