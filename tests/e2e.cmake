# e2e tests
# The stand-in agent and installer, and the end-to-end suite that runs the
# real launcher binaries against them.
# They are built without the sanitizers in every tree: they stand for
# programs the launcher does not control, and a leak check at their exit
# stops them under ptrace, which a SIGCONT passed on from the launcher
# would cancel, leaving them hung.
add_library(e2e_standin STATIC standins/standin.cpp)
target_include_directories(e2e_standin PUBLIC standins)
target_compile_options(e2e_standin PRIVATE ${LAUNCHER_WARNINGS} -fno-sanitize=all)

foreach(role agent installer)
  add_executable(standin_${role} standins/${role}.cpp)
  target_link_libraries(standin_${role} PRIVATE e2e_standin)
  target_compile_options(standin_${role} PRIVATE ${LAUNCHER_WARNINGS} -fno-sanitize=all)
  target_link_options(standin_${role} PRIVATE -fno-sanitize=all)
endforeach()

add_executable(e2e_tests
  e2e/harness.cpp
  e2e/launch_test.cpp
  e2e/process_test.cpp)
target_include_directories(e2e_tests PRIVATE e2e)
target_compile_options(e2e_tests PRIVATE ${LAUNCHER_WARNINGS})
target_compile_definitions(e2e_tests PRIVATE
  E2E_STANDIN_AGENT="$<TARGET_FILE:standin_agent>"
  E2E_STANDIN_INSTALLER="$<TARGET_FILE:standin_installer>")
target_link_libraries(e2e_tests PRIVATE e2e_standin GTest::gtest GTest::gtest_main)
add_dependencies(e2e_tests standin_agent standin_installer)

# The same suite runs once against every launcher binary the build makes.
set(E2E_LAUNCHERS launcher)
if(TARGET launcher32)
  list(APPEND E2E_LAUNCHERS launcher32)
endif()

# A library a test preloads into the launcher, one per architecture, built
# without the sanitizers (it only passes a call on).
foreach(target IN LISTS E2E_LAUNCHERS)
  set(shim e2e_late_sigterm_${target})
  add_library(${shim} MODULE e2e/late_sigterm.c)
  target_compile_options(${shim} PRIVATE -Wall -Wextra -fno-sanitize=all)
  target_link_options(${shim} PRIVATE -fno-sanitize=all)
  if(target STREQUAL launcher32)
    target_compile_options(${shim} PRIVATE -m32)
    target_link_options(${shim} PRIVATE -m32)
  endif()
  target_link_libraries(${shim} PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(e2e_tests ${shim})
endforeach()
set(late_sigterm32 "")
if(TARGET launcher32)
  set(late_sigterm32 $<TARGET_FILE:e2e_late_sigterm_launcher32>)
endif()
target_compile_definitions(e2e_tests PRIVATE
  E2E_LATE_SIGTERM="$<TARGET_FILE:e2e_late_sigterm_launcher>"
  E2E_LATE_SIGTERM32="${late_sigterm32}")
foreach(target IN LISTS E2E_LAUNCHERS)
  add_dependencies(e2e_tests ${target})
  add_test(NAME e2e.${target} COMMAND e2e_tests)
  set_tests_properties(e2e.${target} PROPERTIES
    ENVIRONMENT "LAUNCHER_UNDER_TEST=$<TARGET_FILE:${target}>"
    TIMEOUT 1800)
endforeach()
