// launcher-check: the problems of the values the INI file gives, as the
// launcher's settings and probe will read them.
#ifndef LAUNCHER_CHECKVALUES_H_
#define LAUNCHER_CHECKVALUES_H_

#include "check.h"

// Booleans, the launch mode, the version, the location of the agent and its
// program. The report's INI settings, command line and effective settings
// are filled.
void checkIniValues(const KeyLines& keyLine, CheckReport* report);

#endif  // LAUNCHER_CHECKVALUES_H_
