#include "checkValues.h"

#include <algorithm>

#include "checkLines.h"
#include "probe.h"
#include "settings.h"
#include "utilities.h"
#include "utilitiesLinux.h"

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

// The version the launcher compares with: major.minor.micro[.qualifier], each
// number read as the launcher reads it.
std::string comparedVersion(const std::string& version) {
  int major, minor, micro;
  std::string qualifier;
  parseVersion(version, &major, &minor, &micro, &qualifier);
  std::string text = formatText("%d.%d.%d", major, minor, micro);
  return qualifier.empty() ? text : text + "." + qualifier;
}

// What the author most likely meant: the value without blanks, quotes or a
// leading v around it.
std::string meantVersion(const std::string& version) {
  std::string text = trim(version);
  if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0]) {
    text = trim(text.substr(1, text.size() - 2));
  }
  if (!text.empty() && (text[0] == 'v' || text[0] == 'V')) text.erase(0, 1);
  return text;
}

void checkVersionForm(const KeyLines& keyLine, CheckReport* report) {
  const std::string& version = report->ini.iniManagerVersion;
  std::string compared = comparedVersion(version);
  std::string meant = meantVersion(version);
  bool meantIsClear = isWellFormedVersion(meant);
  // Read otherwise than written: the launcher would accept other agents
  // than the author means.
  bool misread = meantIsClear ? compareQRVersion(version, meant) != 0
                              : version.find_first_of("0123456789") == std::string::npos;
  std::string fix = "VERSION=" + (meantIsClear ? meant : compared);
  if (!meantIsClear && misread) {
    fix = "VERSION=<the lowest agent version the package needs>, e.g. VERSION=1.0.0";
  }
  addProblem(report, report->iniPath, lineOf(keyLine, "VERSION"),
             misread ? CHECK_ERROR : CHECK_WARNING, "bad-version",
             "VERSION=" + version +
                 " is not major.minor.micro[.qualifier] in digits: the launcher "
                 "compares agents with " + compared +
                 (misread && meantIsClear ? ", not " + meant : std::string()),
             fix);
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
    checkVersionForm(keyLine, report);
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

// Why the run is in admin mode or not, in the words of the package.
std::string adminModeReason(const CheckReport& report) {
  const IniSettings& ini = report.ini;
  if (report.cmd.argIsUserAdmin) return "-isAdmin";
  if (isTrueWord(ini.iniIsAdmin) || isFalseWord(ini.iniIsAdmin)) {
    return "ISADMIN=" + ini.iniIsAdmin;
  }
  return report.settings.isUserAdmin ? "root, and no ISADMIN=false"
                                     : "not root, and no ISADMIN=true";
}

// Problems that only the identity the run is explained for shows: where the
// location key lies depends on admin mode, which depends on the user.
void checkIdentityValues(const KeyLines& keyLine, CheckReport* report) {
  const IniSettings& ini = report->ini;
  const std::string& key = ini.iniManagerLocationKey;
  const std::string who = identityText(report->identity);
  const std::string reason = adminModeReason(*report);
  std::string perUser;
  if (getRegKeyPath(key, KEY_TYPE_USER, &perUser) != 0) perUser = "$HOME/" + key;
  int line = lineOf(keyLine, "LOCATION_KEY");
  // Both layouts work when the installer writes the key where the launcher
  // reads it (the launcher tells it where); each carries a risk of its own.
  if (!key.empty() && !report->settings.isUserAdmin && isFileAbsolute(key)) {
    size_t first = key.find_first_not_of('/');
    std::string underHome = first == std::string::npos ? std::string("<a key file>")
                                                       : key.substr(first);
    addProblem(report, report->iniPath, line, CHECK_WARNING, "absolute-key-per-user",
               "LOCATION_KEY=" + key + " looks machine-wide, but run by " + who +
                   " the launcher is not in admin mode (" + reason +
                   "): it reads the key under the home directory, " + perUser +
                   ", not " + key + "; an installer that writes " + key +
                   " itself instead of the path it is given is never found",
               "LOCATION_KEY=" + underHome +
                   " (the same key, read under the home directory)");
  }
  if (!key.empty() && report->settings.isUserAdmin && !isFileAbsolute(key)) {
    addProblem(report, report->iniPath, line, CHECK_WARNING, "relative-key-admin",
               "LOCATION_KEY=" + key + " is relative, and run by " + who +
                   " the launcher is in admin mode (" + reason +
                   "): it reads the key in the package directory, " +
                   joinPath(report->info.launcherDir, key) +
                   ", so the installer must write it there: a package on a "
                   "read-only medium cannot hold it",
               "an absolute LOCATION_KEY (e.g. /etc/<vendor>/location) for a "
               "machine-wide installation, or ISADMIN=false when the installer "
               "installs per user");
  }
  if (report->identity.uid == 0 && isFalseWord(ini.iniIsAdmin) &&
      !isExplicitAdminRequest(ini, report->cmd)) {
    std::string where = !key.empty()                 ? perUser
                        : report->identity.hasHome ? report->identity.home
                                                   : std::string("no home directory");
    addProblem(report, report->iniPath, lineOf(keyLine, "ISADMIN"), CHECK_WARNING,
               "not-admin-as-root",
               "ISADMIN=" + ini.iniIsAdmin +
                   ": run by root, the launcher is not in admin mode, so it looks "
                   "for the agent's location under root's home directory (" +
                   where + "); an installer run by root must write it there, not "
                   "a machine-wide location",
               "keep it only when the installer installs per user for root too; "
               "else remove the line and give an absolute LOCATION_KEY");
  }
}

}  // namespace

void checkIniValues(const KeyLines& keyLine, CheckReport* report) {
  checkBooleans(keyLine, report);
  checkModeAndVersion(keyLine, report);
  checkLocations(keyLine, report);
  checkIdentityValues(keyLine, report);
}
