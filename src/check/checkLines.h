// launcher-check: the problems each line of the INI file shows by itself, as
// the launcher's own reader reports what it did with the line.
#ifndef LAUNCHER_CHECKLINES_H_
#define LAUNCHER_CHECKLINES_H_

#include <string>
#include <vector>

#include "check.h"
#include "settings.h"

// Every line of the INI file as the reader saw it, gathered by its
// listener.
struct IniAnalysis {
  std::vector<IniLine> lines;
};
IniListener iniAnalysisListener(IniAnalysis* analysis);

// Adds the problems of the lines to the report. Returns the line of the
// last applied line of each key, for the problems of the values.
KeyLines checkIniLines(const IniAnalysis& analysis, CheckReport* report);

// SILENT, ISADMIN and LICENSEACCEPTED take boolean words: true and yes, and
// for ISADMIN also false and no.
bool isBooleanKey(const std::string& key);
bool isBooleanWord(const std::string& key, const std::string& value);

#endif  // LAUNCHER_CHECKLINES_H_
