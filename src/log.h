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

void openLog(const std::string& path);
void closeLog();
void logSection(const char* title);
void logValue(const char* name, const std::string& value);
void logValue(const char* name, int value);
void logList(const char* name, const std::vector<std::string>& list);
void logLine(const char* text);
void logFormat(const char* format, const std::string& value);
// One line for a program that could not be started (`execErrno` not 0):
// the program and the reason, the file's where it tells one.
void logStartFailure(const std::string& program, int execErrno);
void printInputInfo(const LauncherInfo& info, const IniSettings& ini,
                    const CmdSettings& cmd);

#endif  // LAUNCHER_LOG_H_
