# More end-to-end suites: settings, log, probe, hostile input, safety, trust,
# unattended runs. They join the e2e_tests executable, so they run against
# every launcher binary.
target_sources(e2e_tests PRIVATE
  e2e/settings_log_test.cpp
  e2e/probe_test.cpp
  e2e/hostile_test.cpp
  e2e/safety_test.cpp
  e2e/trust_test.cpp
  e2e/unattended_test.cpp)
# The version the launcher reports.
target_include_directories(e2e_tests PRIVATE ${CMAKE_BINARY_DIR}/generated)
