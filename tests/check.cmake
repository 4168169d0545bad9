# launcher-check: broken packages, the dry run against the real run, the JSON
# schema and the release archives.
# A suite that runs launcher-check against real launcher runs: one test per
# pair of binaries the build makes (launcher with launcher-check, and the
# i386 pair), under the name <name>.<launcher-check binary>.
function(add_check_suite name source timeout)
  add_executable(${name}_tests e2e/harness.cpp ${source})
  target_include_directories(${name}_tests PRIVATE e2e)
  target_compile_options(${name}_tests PRIVATE ${LAUNCHER_WARNINGS})
  target_compile_definitions(${name}_tests PRIVATE
    E2E_STANDIN_AGENT="$<TARGET_FILE:standin_agent>"
    E2E_STANDIN_INSTALLER="$<TARGET_FILE:standin_installer>"
    CHECK_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples"
    ${ARGN})
  target_link_libraries(${name}_tests PRIVATE e2e_standin GTest::gtest GTest::gtest_main)
  add_dependencies(${name}_tests standin_agent standin_installer launcher launcher-check)
  set(pairs "launcher:launcher-check")
  if(TARGET launcher32)
    add_dependencies(${name}_tests launcher32 launcher-check32)
    list(APPEND pairs "launcher32:launcher-check32")
  endif()
  foreach(pair IN LISTS pairs)
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 launcherTarget)
    list(GET pair 1 checkTarget)
    add_test(NAME ${name}.${checkTarget} COMMAND ${name}_tests)
    set_tests_properties(${name}.${checkTarget} PROPERTIES
      ENVIRONMENT "LAUNCHER_UNDER_TEST=$<TARGET_FILE:${launcherTarget}>;CHECK_UNDER_TEST=$<TARGET_FILE:${checkTarget}>"
      TIMEOUT ${timeout})
  endforeach()
endfunction()

add_check_suite(check check/check_test.cpp 600)

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
