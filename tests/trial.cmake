# launcher-check --trial: real installers and agents in the throwaway copy of
# the machine. A test of its own, for its time limit.
add_executable(trial_tests e2e/harness.cpp trial/trial_test.cpp)
target_include_directories(trial_tests PRIVATE e2e)
target_compile_options(trial_tests PRIVATE ${LAUNCHER_WARNINGS})
target_compile_definitions(trial_tests PRIVATE
  E2E_STANDIN_AGENT="$<TARGET_FILE:standin_agent>"
  E2E_STANDIN_INSTALLER="$<TARGET_FILE:standin_installer>"
  CHECK_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples"
  TRIAL_JAVA_AGENT="${CMAKE_CURRENT_SOURCE_DIR}/trial/startup.jar")
target_link_libraries(trial_tests PRIVATE e2e_standin GTest::gtest GTest::gtest_main)
add_dependencies(trial_tests standin_agent standin_installer launcher launcher-check)
add_test(NAME trial COMMAND trial_tests)
set_tests_properties(trial PROPERTIES
  ENVIRONMENT "LAUNCHER_UNDER_TEST=$<TARGET_FILE:launcher>;CHECK_UNDER_TEST=$<TARGET_FILE:launcher-check>"
  TIMEOUT 300)
