// launcher-check: the files of the package itself: the launcher, its INI
// file, the installer and the input file.
#ifndef LAUNCHER_CHECKFILES_H_
#define LAUNCHER_CHECKFILES_H_

#include <string>

#include "check.h"

// Why a file cannot serve as one the launcher reads, run by the report's
// identity; "" when it can.
std::string fileProblem(const CheckReport& report, const std::string& path);
// Why the report's identity cannot start a program: "not executable", or
// what else stands in the way; "" when it can.
std::string programProblem(const CheckReport& report, const std::string& path);
// What to do about a program that cannot start for `why`.
std::string startFix(const std::string& path, const std::string& why);

// The launcher at the report's full path.
void checkLauncherFile(CheckReport* report);
// The INI file could not be read: why, and whether one for another launcher
// name lies beside the launcher.
void checkIniMissing(CheckReport* report);
// The INI file is there, but the report's identity cannot read it.
void checkIniUnreadable(const std::string& why, CheckReport* report);
// The installer and the input file the settings name.
void checkPackageFiles(const KeyLines& keyLine, CheckReport* report);

#endif  // LAUNCHER_CHECKFILES_H_
