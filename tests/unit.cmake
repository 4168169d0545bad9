# unit tests
# Helpers that the unit, catalogue and dialog tests share (test_support.h).
add_library(test_support INTERFACE)
target_include_directories(test_support INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})

# The core units' own tests, one file per unit, in one executable.
add_executable(unit_tests
  utilities_test.cpp
  utilitiesLinux_test.cpp
  programFile_test.cpp
  keyList_test.cpp
  install_test.cpp
  trust_test.cpp)
target_compile_options(unit_tests PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(unit_tests PRIVATE launchercore test_support GTest::gtest_main)
# Each test runs in its own process: the tests change the working directory,
# the environment and the umask, and some take another user id.
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)
