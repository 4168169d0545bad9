# Real message dialogs on a private virtual X server (dialog/with-xvfb.sh) or
# a private headless Wayland compositor (dialog/with-weston.sh). A test-only
# GTK module, dialog_probe, is loaded into the process under test through
# GTK_MODULES; it reads each dialog back and presses Close. It is built once
# per toolkit and architecture, since a module must match the toolkit that
# loads it. Without Xvfb, weston, a toolkit's development files or
# localedef's locale sources these tests fail; they never skip.

# displayMessage on its own, linked the way the launcher is.
add_executable(dialog_driver dialog/dialog_driver.cpp)
target_compile_options(dialog_driver PRIVATE ${LAUNCHER_WARNINGS} ${LAUNCHER_CORE_FLAGS})
target_link_libraries(dialog_driver PRIVATE launchercore)
target_link_options(dialog_driver PRIVATE ${LAUNCHER_LINK_FLAGS})

set(DIALOG_ARCHS 64)
if(TARGET launcher32)
  list(APPEND DIALOG_ARCHS 32)
endif()

find_package(PkgConfig QUIET)

# The compiler and linker flags of a pkg-config package for ARCH (64: the
# build's own, 32: i386), in OUT; empty when the package is missing.
function(dialog_pkg_flags out package arch)
  set(flags "")
  if(PKG_CONFIG_FOUND)
    set(env)
    if(arch STREQUAL 32)
      set(env env PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR=/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
    endif()
    execute_process(COMMAND ${env} ${PKG_CONFIG_EXECUTABLE} --cflags --libs ${package}
                    OUTPUT_VARIABLE flags RESULT_VARIABLE status
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT status EQUAL 0)
      set(flags "")
    endif()
  endif()
  set(${out} "${flags}" PARENT_SCOPE)
endfunction()

# A shared object for ARCH from SOURCE; the remaining arguments are link
# flags.
function(dialog_library name kind source arch)
  add_library(${name} ${kind} ${source})
  target_compile_options(${name} PRIVATE -Wall -Wextra)
  if(arch STREQUAL 32)
    target_compile_options(${name} PRIVATE -m32)
    target_link_options(${name} PRIVATE -m32)
  endif()
  target_link_libraries(${name} PRIVATE ${ARGN})
endfunction()

foreach(arch IN LISTS DIALOG_ARCHS)
  # A toolkit library without the dialog functions, under the name the
  # launcher loads first.
  dialog_library(dialog_fake_gtk${arch} SHARED dialog/fake_gtk.c ${arch})
  set_target_properties(dialog_fake_gtk${arch} PROPERTIES
    OUTPUT_NAME gtk-x11-2.0 PREFIX lib SUFFIX .so.0
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fake-gtk${arch})
  # A module that a toolkit must never be asked to load.
  dialog_library(dialog_trace_module${arch} MODULE dialog/trace_module.c ${arch})
  foreach(toolkit 2 3)
    dialog_pkg_flags(flags gtk+-${toolkit}.0 ${arch})
    set(probe dialog_probe${arch}_gtk${toolkit})
    if(flags STREQUAL "")
      message(WARNING "gtk+-${toolkit}.0 for the ${arch}-bit build not found (Debian: libgtk2.0-dev or "
                      "libgtk-3-dev, for i386 with :i386): the dialog tests will fail")
      set(DIALOG_PROBE${arch}_GTK${toolkit} ${CMAKE_CURRENT_BINARY_DIR}/${probe}-not-built.so)
      continue()
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    set(compile_flags ${flags})
    list(FILTER compile_flags INCLUDE REGEX "^-[IDp]")
    list(FILTER flags EXCLUDE REGEX "^-[ID]")
    dialog_library(${probe} MODULE dialog/dialog_probe.c ${arch} ${flags})
    # GTK 2's headers use what newer GLib deprecates, and the probe uses
    # what GTK 3 deprecates.
    target_compile_options(${probe} PRIVATE ${compile_flags} -Wno-deprecated-declarations)
    set(DIALOG_PROBE${arch}_GTK${toolkit} $<TARGET_FILE:${probe}>)
  endforeach()
endforeach()

add_executable(dialog_test dialog/dialog_test.cpp)
target_compile_options(dialog_test PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(dialog_test PRIVATE launchercore test_support GTest::gtest_main)
target_compile_definitions(dialog_test PRIVATE
  DIALOG_TEST_DEFAULT_LAUNCHER="$<TARGET_FILE:launcher>"
  DIALOG_TEST_DRIVER="$<TARGET_FILE:dialog_driver>"
  DIALOG_TEST_DEFAULT_PROBE="${DIALOG_PROBE64_GTK2}"
  DIALOG_TEST_DEFAULT_FAKE_TOOLKIT="$<TARGET_FILE:dialog_fake_gtk64>"
  DIALOG_TEST_DEFAULT_TRACE_MODULE="$<TARGET_FILE:dialog_trace_module64>")
add_dependencies(dialog_test launcher dialog_driver)
foreach(arch IN LISTS DIALOG_ARCHS)
  add_dependencies(dialog_test dialog_fake_gtk${arch} dialog_trace_module${arch})
  foreach(toolkit 2 3)
    if(TARGET dialog_probe${arch}_gtk${toolkit})
      add_dependencies(dialog_test dialog_probe${arch}_gtk${toolkit})
    endif()
  endforeach()
endforeach()

# Every suite runs against both launcher binaries, with GTK 2 and with GTK 2
# made unloadable, so that GTK 3 shows the dialogs; the Wayland suite runs
# without any X display. dialog_driver, like the rest of the tests, is built
# for the build's own architecture only.
foreach(arch IN LISTS DIALOG_ARCHS)
  set(launcher launcher)
  if(arch STREQUAL 32)
    set(launcher launcher32)
    add_dependencies(dialog_test launcher32)
  endif()
  set(common
    "DIALOG_TEST_LAUNCHER=$<TARGET_FILE:${launcher}>"
    "DIALOG_TEST_FAKE_TOOLKIT=$<TARGET_FILE:dialog_fake_gtk${arch}>"
    "DIALOG_TEST_TRACE_MODULE=$<TARGET_FILE:dialog_trace_module${arch}>")
  set(runs gtk2 gtk3 wayland)
  foreach(run IN LISTS runs)
    set(server with-xvfb.sh)
    set(suites DialogLauncher DialogTranslated DialogNone)
    if(arch STREQUAL 64)
      list(APPEND suites DialogDirect)
    endif()
    if(run STREQUAL gtk2)
      set(env "DIALOG_TEST_PROBE=${DIALOG_PROBE${arch}_GTK2}" DIALOG_TEST_TOOLKIT=2)
    elseif(run STREQUAL gtk3)
      set(env "DIALOG_TEST_PROBE=${DIALOG_PROBE${arch}_GTK3}" DIALOG_TEST_TOOLKIT=3 DIALOG_TEST_HIDE_GTK2=1)
    else()
      set(env "DIALOG_TEST_PROBE=${DIALOG_PROBE${arch}_GTK3}" DIALOG_TEST_TOOLKIT=3)
      set(server with-weston.sh)
      set(suites DialogWayland)
    endif()
    foreach(suite IN LISTS suites)
      set(name dialog.${launcher}.${run}.${suite})
      add_test(NAME ${name}
               COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/dialog/${server} $<TARGET_FILE:dialog_test>
                       --gtest_filter=${suite}.*)
      # A filter that matches nothing must not pass as a green run.
      set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${common};${env}"
        TIMEOUT 300 FAIL_REGULAR_EXPRESSION "\\[==========\\] 0 tests")
    endforeach()
  endforeach()
endforeach()
