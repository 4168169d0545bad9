// The launch sequence: each step in its order, with the exit status every
// way of ending has, and the doing that goes with the decisions (running the
// installer, starting the agent, showing messages, the log).
#ifndef LAUNCHER_INSTALL_H_
#define LAUNCHER_INSTALL_H_

#include "commands.h"
#include "log.h"
#include "probe.h"
#include "records.h"
#include "settings.h"

extern int platform;
extern int inputArgc;
extern char** inputArgv;

// `version` is what --version prints after the launcher's name.
int launcherMain(int argc, char** argv, const char* version);
void backupArgList(int argc, char** argv);
bool getLauncherInfo(const char* argv0, LauncherInfo* info);
// Shows the usage message for this launcher.
void Usage(const LauncherInfo& info);

#endif  // LAUNCHER_INSTALL_H_
