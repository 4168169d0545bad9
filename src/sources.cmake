# The launcher's units (src/launcher), from the top of the layering down:
# each unit uses only those below it. Shared by the main build, the fuzz
# build and launcher-check, which asks them rather than deciding again.
set(LAUNCHER_CORE_UNITS
  install
  commands
  probe
  settings
  log
  installLock
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
  list(APPEND LAUNCHER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/launcher/${unit}.cpp)
endforeach()
set(LAUNCHER_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/launcher)

# launcher-check's units (src/check), from the top down, above the core: each uses only
# those below it and the core. The launcher's own functions decide; these
# units ask them and explain the answer.
set(CHECK_UNITS
  checkMain
  trial
  trialVariants
  checkOutput
  checkRun
  checkOptions
  checkFiles
  checkValues
  checkLines
  check
  checkIdentity
  sandbox
  syscallFilter
  checkEscape)
set(CHECK_UNIT_SOURCES)
foreach(unit IN LISTS CHECK_UNITS)
  list(APPEND CHECK_UNIT_SOURCES ${CMAKE_CURRENT_LIST_DIR}/check/${unit}.cpp)
endforeach()
