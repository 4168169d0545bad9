// The diagnostic log: English lines in fixed shapes, written only while a
// log was requested with -log and could be opened.
#ifndef LAUNCHER_LOG_H_
#define LAUNCHER_LOG_H_

#include <cstdio>
#include <string>
#include <vector>

#include "records.h"

// Open while logging; null when no log was requested or it cannot be opened.
extern FILE* logFile;

// Opens the log at `path`. When it cannot be opened, or a rule about who
// controls that file turns it off, one line on standard error, beginning
// with `who`, names the file and the reason. A write that fails later ends
// logging with one such line too; at most one line per run.
void openLog(const std::string& path, const std::string& who);
// Writes out what is buffered, before a child starts: a failure is told
// while the launcher still can.
void flushLog();
void closeLog();
// Lines written between the two are dropped: for a step whose lines matter
// only when its answer does. unmuteLog takes what muteLog returned.
FILE* muteLog();
void unmuteLog(FILE* file);
void logSection(const char* title);
void logValue(const char* name, const std::string& value);
void logValue(const char* name, int value);
void logList(const char* name, const std::vector<std::string>& list);
void logLine(const char* text);
void logFormat(const char* format, const std::string& value);
// A file that root's rule refused: one line naming it and the reason.
void logNotTrusted(const std::string& path, const std::string& why);
// Once per run, after the input sections: the home directory used when
// root's rule refused HOME.
void logRefusedHome();
// One line for a program that could not be started (`execErrno` not 0):
// the program and the reason, the file's where it tells one.
void logStartFailure(const std::string& program, int execErrno);
void printInputInfo(const LauncherInfo& info, const IniSettings& ini,
                    const CmdSettings& cmd);

#endif  // LAUNCHER_LOG_H_
