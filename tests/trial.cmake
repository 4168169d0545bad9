# launcher-check --trial: real installers and agents in the throwaway copy of
# the machine, against every launcher-check the build makes. Tests of their
# own, for their time limit.
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

set(TRIAL_PAIRS "launcher:launcher-check")
if(TARGET launcher32)
  add_dependencies(trial_tests launcher32 launcher-check32)
  list(APPEND TRIAL_PAIRS "launcher32:launcher-check32")
endif()
foreach(pair IN LISTS TRIAL_PAIRS)
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 launcherTarget)
  list(GET pair 1 checkTarget)
  add_test(NAME trial.${checkTarget} COMMAND trial_tests)
  set_tests_properties(trial.${checkTarget} PROPERTIES
    ENVIRONMENT "LAUNCHER_UNDER_TEST=$<TARGET_FILE:${launcherTarget}>;CHECK_UNDER_TEST=$<TARGET_FILE:${checkTarget}>"
    TIMEOUT 300)
endforeach()
