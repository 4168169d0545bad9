# launcher-check --trial: real installers and agents in the throwaway copy of
# the machine, against every launcher-check the build makes. Tests of their
# own, for their time limit.
add_check_suite(trial trial/trial_test.cpp 300
  TRIAL_JAVA_AGENT="${CMAKE_CURRENT_SOURCE_DIR}/trial/startup.jar")
