// The trial's two variants: an upgrade (the last release installed first,
// in the same copy) and another system (a root file system tree as the
// copy's lower layer). What they add to a trial's report, and how a missing
// piece of that system is named from what the kernel and the shells say.
#ifndef LAUNCHER_TRIALVARIANTS_H_
#define LAUNCHER_TRIALVARIANTS_H_

#include <sys/types.h>

#include <string>
#include <vector>

// What the old release did in the copy, and what this package's launcher
// found afterwards.
struct TrialUpgrade {
  std::string from;  // the old launcher, as given
  std::string oldOutput;  // its first lines
  std::string beforeLocation, beforeVersion;
  int oldStatus = -1;            // its exit status, when it ended by itself
  bool oldRan = false;
  bool oldAgentStarted = false;  // it replaced itself with its agent
  bool beforeSufficient = false;
};

// Why `path`, an ELF program, cannot start because the ELF interpreter
// (PT_INTERP) it names is missing: "ELF interpreter /lib... not found".
// Empty when the file is no ELF program or its interpreter exists.
std::string elfInterpreterProblem(const std::string& path);

// The command a shell reported as not found in `output` (a program's
// status was 127); empty when no line says so.
std::string missingCommand(const std::string& output);

// The C library symbol version the dynamic loader found missing in
// `output` ("GLIBC_2.34"), or the library it could not load; empty when
// the output shows neither.
std::string missingLibrary(const std::string& output);

// Runs a program with its output in `capture` (when >= 0), in a process
// group of its own; waits at most `seconds` (forever when negative), or
// until `stop` (when given), asked as it polls after the exec, says so;
// then ends the group. Returns the exit status (128+N for a signal), -1
// when it was ended, with *running true, or 255 when it could not start.
int runCaptured(const std::string& path, const std::vector<std::string>& argv, int capture,
                int seconds, bool* running, double* took,
                bool (*stop)(pid_t child, void* context) = nullptr, void* stopContext = nullptr);

// Runs a launcher with `argv` as it would run for a user, its output
// kept to `capture`: until it ends, until `seconds` pass, or until it
// replaced itself with its agent (then the agent is ended at once: the old
// release has installed). Returns its exit status, -1 when it was ended.
int runLauncherUntilAgent(const std::string& path, const std::vector<std::string>& argv,
                          int capture, int seconds, bool* agentStarted);

// The report's parts for the variants.
std::string upgradeText(const TrialUpgrade& upgrade, bool installerRan);
std::string upgradeJson(const TrialUpgrade& upgrade, bool installerRan);

#endif  // LAUNCHER_TRIALVARIANTS_H_
