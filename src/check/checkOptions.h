// launcher-check: the launcher options a run is explained for, as the
// launcher's own parser reads them, and the arguments the installer and the
// agent then receive.
#ifndef LAUNCHER_CHECKOPTIONS_H_
#define LAUNCHER_CHECKOPTIONS_H_

#include "check.h"

// Options the launcher ignores or reads otherwise than they look, a
// language that is no language tag, a log the run cannot write, and extra
// arguments that gain quotes. The report's settings are filled.
void checkOptions(const KeyLines& keyLine, CheckReport* report);

#endif  // LAUNCHER_CHECKOPTIONS_H_
