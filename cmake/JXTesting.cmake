# jx_add_test(NAME SOURCES files... LIBS libs...)
# A Qt Test executable registered with CTest. Widgets run on the offscreen
# platform, and every test gets its own HOME so nothing touches the user's.
function(jx_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${CMAKE_CURRENT_BINARY_DIR}/home-${name};JX_RESOURCE_DIR=${PROJECT_BINARY_DIR}/Dorv/resources")
endfunction()
