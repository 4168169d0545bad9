# The launcher's core units, from the top of the layering down: each unit
# uses only those below it. Shared by the main build and the fuzz build.
set(LAUNCHER_CORE_UNITS
  install
  commands
  probe
  settings
  log
  utilitiesLinux
  programFile
  keyList
  utilities
  files
  trust
  stringtable
  uiGTK)
set(LAUNCHER_SOURCES)
foreach(unit IN LISTS LAUNCHER_CORE_UNITS)
  list(APPEND LAUNCHER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/${unit}.cpp)
endforeach()
