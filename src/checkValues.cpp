#include "checkValues.h"

#include <algorithm>

#include "checkLines.h"
#include "probe.h"
#include "settings.h"
#include "utilities.h"

namespace {

// A version whose three numbers are plain digits; the qualifier may be
// anything.
bool isWellFormedVersion(const std::string& version) {
  size_t start = 0;
  for (int part = 0; part < 3; ++part) {
    size_t dot = version.find('.', start);
    std::string number = version.substr(
        start, dot == std::string::npos ? std::string::npos : dot - start);
    if (number.empty() ||
        number.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    if (dot == std::string::npos) return true;
    start = dot + 1;
  }
  return true;
}

void checkBooleans(const KeyLines& keyLine, CheckReport* report) {
  const IniSettings& ini = report->ini;
  const std::pair<const char*, const std::string*> keys[] = {
      {"SILENT", &ini.iniSilent},
      {"ISADMIN", &ini.iniIsAdmin},
      {"LICENSEACCEPTED", &ini.iniLicenseAccepted}};
  for (const auto& key : keys) {
    const std::string& value = *key.second;
    std::string name = key.first;
    if (value.empty() || isBooleanWord(name, value) ||
        isBooleanWord(name, trim(value))) {
      continue;
    }
    bool isAdminKey = name == "ISADMIN";
    std::string message = name;
    message += "=";
    message += value;
    message += isAdminKey ? " is none of the words true, yes, false, no: admin "
                            "mode is decided by the user id (root is admin)"
                          : " is none of the words true, yes: it is read as false";
    std::string fix = name;
    fix += "=true or ";
    fix += name;
    fix += isAdminKey ? "=false" : "=false (or leave the line out)";
    addProblem(report, report->iniPath, lineOf(keyLine, name), CHECK_WARNING,
               "bad-boolean", message, fix);
  }
}

void checkModeAndVersion(const KeyLines& keyLine, CheckReport* report) {
  const IniSettings& ini = report->ini;
  const std::string& iniPath = report->iniPath;
  if (!ini.iniMode.empty() && parseMode(ini.iniMode) < 0) {
    std::vector<std::string> words;
    for (int mode = MODE_INSTALL; mode <= MODE_EXTENSION; ++mode) {
      words.emplace_back(modeName(mode));
    }
    std::string nearest = nearestText(trim(ini.iniMode), words);
    addProblem(report, iniPath, lineOf(keyLine, "MODE"), CHECK_WARNING, "bad-mode",
               "MODE=" + ini.iniMode + " names no launch mode: the mode stays " +
                   modeName(ini.mode),
               nearest.empty() ? "MODE=INSTALL, MODE=UNINSTALL or MODE=EXTENSION"
                               : "MODE=" + nearest);
  }
  if (ini.iniManagerVersion.empty()) {
    addProblem(report, iniPath, lineOf(keyLine, "VERSION"), CHECK_WARNING,
               "empty-version",
               "no VERSION in [MANAGER]: it compares as 0.0.0, so any installed "
               "agent will do",
               "VERSION=<the lowest agent version the package needs>, e.g. VERSION=1.0.0");
  } else if (!isWellFormedVersion(ini.iniManagerVersion)) {
    addProblem(report, iniPath, lineOf(keyLine, "VERSION"), CHECK_WARNING,
               "bad-version",
               "VERSION=" + ini.iniManagerVersion +
                   " is not major.minor.micro[.qualifier] in digits: parts that "
                   "are not numbers count as 0",
               "VERSION=1.0.0 (numbers only, then an optional .qualifier)");
  }
}

void checkPlaceholders(const KeyLines& keyLine, CheckReport* report) {
  const std::string& file = report->ini.iniManagerLocationFile;
  const std::string& iniPath = report->iniPath;
  int count;
  const char* const* known = referencePlaceholders(&count);
  std::vector<std::string> names(known, known + count);
  int line = lineOf(keyLine, "LOCATION_FILE");
  for (size_t open = file.find('<'); open != std::string::npos;
       open = file.find('<', open + 1)) {
    size_t close = file.find('>', open);
    if (close == std::string::npos) break;
    std::string token = file.substr(open, close - open + 1);
    if (std::find(names.begin(), names.end(), token) != names.end()) continue;
    std::string nearest = nearestText(token, names);
    addProblem(report, iniPath, line, CHECK_ERROR, "bad-placeholder",
               "LOCATION_FILE holds " + shown(token) +
                   ", which is no placeholder: it stays in the path as it is",
               nearest.empty() ? "one of <HOME>, <CURRDIR>, <APPDATA>, <PROFILE>, "
                                 "<My Documents>"
                               : nearest);
  }
  std::string expanded;
  if (parseSystemValue(&expanded, file, report->info, report->settings.isUserAdmin) != 0) {
    return;
  }
  for (const std::string& name : names) {
    if (expanded.find(name) == std::string::npos) continue;
    addProblem(report, iniPath, line, CHECK_ERROR, "bad-placeholder",
               "LOCATION_FILE holds more than one placeholder: only the first "
               "is expanded, " + name + " stays in the path as it is",
               "one placeholder, at the start of the path");
  }
}

void checkLocations(const KeyLines& keyLine, CheckReport* report) {
  const IniSettings& ini = report->ini;
  const std::string& iniPath = report->iniPath;
  if (ini.iniManagerLocationKey.empty() && ini.iniManagerLocationFile.empty()) {
    addProblem(report, iniPath, 0, CHECK_ERROR, "no-location",
               "neither LOCATION_KEY nor LOCATION_FILE in [MANAGER]: the agent "
               "is never found, so every run installs and then fails",
               "LOCATION_KEY=<the key file your installer writes, under $HOME>");
  } else if (!ini.iniManagerLocationKey.empty() &&
             !ini.iniManagerLocationFile.empty()) {
    addProblem(report, iniPath, lineOf(keyLine, "LOCATION_FILE"), CHECK_WARNING,
               "both-locations",
               "both LOCATION_KEY and LOCATION_FILE: the key is used and the "
               "file is ignored",
               "keep one of the two");
  }
  if (!ini.iniManagerLocationFile.empty()) checkPlaceholders(keyLine, report);
  if (ini.iniManagerLauncher.empty()) {
    addProblem(report, iniPath, lineOf(keyLine, "LAUNCHER"), CHECK_ERROR,
               "empty-launcher",
               "no LAUNCHER in [MANAGER]: the agent program would be the "
               "agent's directory itself, which cannot be started",
               "LAUNCHER=<the agent program, relative to the agent's directory>");
  }
}

}  // namespace

void checkIniValues(const KeyLines& keyLine, CheckReport* report) {
  checkBooleans(keyLine, report);
  checkModeAndVersion(keyLine, report);
  checkLocations(keyLine, report);
}
