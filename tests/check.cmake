# launcher-check: broken packages, the dry run against the real run, the JSON
# schema and the release archives.
add_executable(check_tests e2e/harness.cpp check/check_test.cpp)
target_include_directories(check_tests PRIVATE e2e)
target_compile_options(check_tests PRIVATE ${LAUNCHER_WARNINGS})
target_compile_definitions(check_tests PRIVATE
  E2E_STANDIN_AGENT="$<TARGET_FILE:standin_agent>"
  E2E_STANDIN_INSTALLER="$<TARGET_FILE:standin_installer>"
  CHECK_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
target_link_libraries(check_tests PRIVATE e2e_standin GTest::gtest GTest::gtest_main)
add_dependencies(check_tests standin_agent standin_installer launcher launcher-check)

set(CHECK_PAIRS "launcher:launcher-check")
if(TARGET launcher32)
  add_dependencies(check_tests launcher32 launcher-check32)
  list(APPEND CHECK_PAIRS "launcher32:launcher-check32")
endif()
foreach(pair IN LISTS CHECK_PAIRS)
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 launcherTarget)
  list(GET pair 1 checkTarget)
  add_test(NAME check.${checkTarget} COMMAND check_tests)
  set_tests_properties(check.${checkTarget} PROPERTIES
    ENVIRONMENT "LAUNCHER_UNDER_TEST=$<TARGET_FILE:${launcherTarget}>;CHECK_UNDER_TEST=$<TARGET_FILE:${checkTarget}>"
    TIMEOUT 600)
endforeach()

add_test(NAME check.json-schema
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/check/validate_json.py
          $<TARGET_FILE:launcher-check> $<TARGET_FILE:launcher>
          ${PROJECT_SOURCE_DIR}/docs/launcher-check.schema.json ${PROJECT_SOURCE_DIR}/examples)

if(NOT LAUNCHER_SANITIZE)
  add_test(NAME check.archives
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check/archives.sh ${PROJECT_BINARY_DIR}
            ${PROJECT_VERSION} ${LAUNCHER_ARCHIVES})
  set_tests_properties(check.archives PROPERTIES TIMEOUT 600)
endif()
