// launcher-check: the files of the package itself: the launcher, its INI
// file, the installer and the input file.
#ifndef LAUNCHER_CHECKFILES_H_
#define LAUNCHER_CHECKFILES_H_

#include <string>

#include "check.h"

// Why a file cannot serve as one the launcher reads; "" when it can.
std::string fileProblem(const std::string& path);
// Why a program cannot be started; "" when it can.
std::string programProblem(const std::string& path);

// The launcher at the report's full path.
void checkLauncherFile(CheckReport* report);
// The INI file could not be read: why, and whether one for another launcher
// name lies beside the launcher.
void checkIniMissing(CheckReport* report);
// The installer and the input file the settings name.
void checkPackageFiles(const KeyLines& keyLine, CheckReport* report);

#endif  // LAUNCHER_CHECKFILES_H_
