# Shared helpers for the project's CMake files.

# tavio_add_gtest(NAME SOURCES... LIBS...)
# One test executable, its cases registered with CTest one by one.
include(GoogleTest OPTIONAL)
function(tavio_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} tavio_testkit GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # Tests reach named objects through the machine's object manager.
  add_dependencies(${name} tavio-machined)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120
                       ENVIRONMENT "TAVIO_BIN=${CMAKE_BINARY_DIR}/bin")
endfunction()
