# catalogue tests

# Reports the table the catalogue chooses in a fresh process; the locale
# tests run it once per environment, since the choice is made once a run.
add_executable(stringtable_probe stringtable_probe.cpp)
target_compile_options(stringtable_probe PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(stringtable_probe PRIVATE launchercore)

add_executable(stringtable_test stringtable_test.cpp stringtable_locale_test.cpp)
target_compile_options(stringtable_test PRIVATE ${LAUNCHER_WARNINGS})
target_compile_definitions(stringtable_test PRIVATE
  STRINGTABLE_PROBE="$<TARGET_FILE:stringtable_probe>")
target_link_libraries(stringtable_test PRIVATE launchercore test_support GTest::gtest_main)
add_dependencies(stringtable_test stringtable_probe)

# The locale cases first make their locales with localedef (package
# locales), which takes a few seconds; the table checks need nothing.
add_test(NAME stringtable_tables COMMAND stringtable_test --gtest_filter=-StringTableLocale.*)
add_test(NAME stringtable_locales COMMAND stringtable_test --gtest_filter=StringTableLocale.*)
set_tests_properties(stringtable_locales PROPERTIES TIMEOUT 300)
