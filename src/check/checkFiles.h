// launcher-check: the files of the package itself: the launcher, its INI
// file, the installer and the input file.
#ifndef LAUNCHER_CHECKFILES_H_
#define LAUNCHER_CHECKFILES_H_

#include <cstdio>
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

// Whether `path`, a file of the package, leads out of the package directory
// through a symbolic link (the file itself or a directory on the way): then
// *link is that link and *target what it points to. A package ships the
// link, not the file, and the tool neither reads nor shows such a file.
bool linksOutOfPackage(const CheckReport& report, const std::string& path, std::string* link,
                       std::string* target);
// The message and the fix for such a link.
std::string linkOutMessage(const std::string& link, const std::string& target);
extern const char kLinkOutFix[];
// The INI file opened for reading, or nullptr. One that leads out of the
// package is not opened at all, or, swapped in after the look, closed
// unread; then *link and *target say where it led.
FILE* openPackageIni(const CheckReport& report, std::string* link, std::string* target);
// The INI file leads out of the package.
void checkIniLinkedOut(const std::string& link, const std::string& target, CheckReport* report);

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
