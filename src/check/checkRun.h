// launcher-check: the dry run. Reads the package with the launcher's own
// reader, parser, settings, probe and command lines, has the other check
// units list its problems, and tells what a run would do here.
#ifndef LAUNCHER_CHECKRUN_H_
#define LAUNCHER_CHECKRUN_H_

#include <string>
#include <vector>

#include "check.h"

// What the output shows for the agent's directory while only the installer
// can tell it.
extern const char kAgentDirectoryStandIn[];

// Reads the package of the launcher at `launcherPath` and decides what a run
// with `args` (the launcher's own options) would do. Never fails: every
// obstacle is a problem in the report.
void checkPackage(const std::string& launcherPath,
                  const std::vector<std::string>& args, CheckReport* report);

#endif  // LAUNCHER_CHECKRUN_H_
