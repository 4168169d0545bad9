# Real message dialogs on a private virtual X server (dialog/with-xvfb.sh).
# A test-only GTK 2 module, dialog_probe, is loaded into the process under
# test through GTK_MODULES; it reads each dialog back and presses Close.
# Without Xvfb, GTK 2 or localedef's locale sources these tests fail; they
# never skip.

# displayMessage on its own, linked the way the launcher is.
add_executable(dialog_driver dialog/dialog_driver.cpp)
target_compile_options(dialog_driver PRIVATE ${LAUNCHER_WARNINGS} ${LAUNCHER_CORE_FLAGS})
target_link_libraries(dialog_driver PRIVATE launchercore)
target_link_options(dialog_driver PRIVATE ${LAUNCHER_LINK_FLAGS})

# A toolkit library without the dialog functions, under the name the
# launcher loads.
add_library(dialog_fake_gtk SHARED dialog/fake_gtk.c)
set_target_properties(dialog_fake_gtk PROPERTIES
  OUTPUT_NAME gtk-x11-2.0 PREFIX lib SUFFIX .so.0
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fake-gtk)

find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(DIALOG_GTK2 QUIET IMPORTED_TARGET gtk+-2.0)
endif()
set(DIALOG_PROBE_FILE ${CMAKE_CURRENT_BINARY_DIR}/dialog_probe-not-built.so)
if(DIALOG_GTK2_FOUND)
  add_library(dialog_probe MODULE dialog/dialog_probe.c)
  target_link_libraries(dialog_probe PRIVATE PkgConfig::DIALOG_GTK2)
  # GTK 2's headers use what newer GLib deprecates.
  target_compile_options(dialog_probe PRIVATE -Wall -Wextra -Wno-deprecated-declarations)
  set(DIALOG_PROBE_FILE $<TARGET_FILE:dialog_probe>)
else()
  message(WARNING "gtk+-2.0 not found (Debian: libgtk2.0-dev, pkg-config): the dialog tests will fail")
endif()

add_executable(dialog_test dialog/dialog_test.cpp)
target_compile_options(dialog_test PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(dialog_test PRIVATE launchercore test_support GTest::gtest_main)
target_compile_definitions(dialog_test PRIVATE
  DIALOG_TEST_DEFAULT_LAUNCHER="$<TARGET_FILE:launcher>"
  DIALOG_TEST_DRIVER="$<TARGET_FILE:dialog_driver>"
  DIALOG_TEST_PROBE="${DIALOG_PROBE_FILE}"
  DIALOG_TEST_FAKE_TOOLKIT="$<TARGET_FILE:dialog_fake_gtk>")
add_dependencies(dialog_test launcher dialog_driver dialog_fake_gtk)
if(TARGET dialog_probe)
  add_dependencies(dialog_test dialog_probe)
endif()

foreach(suite DialogLauncher DialogTranslated DialogDirect DialogNone)
  add_test(NAME dialog.${suite}
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/dialog/with-xvfb.sh $<TARGET_FILE:dialog_test>
                   --gtest_filter=${suite}.*)
  # A filter that matches nothing must not pass as a green run.
  set_tests_properties(dialog.${suite} PROPERTIES
    TIMEOUT 300 FAIL_REGULAR_EXPRESSION "\\[==========\\] 0 tests")
endforeach()
