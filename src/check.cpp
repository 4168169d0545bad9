#include "check.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "commands.h"
#include "launcherVersion.h"
#include "settings.h"
#include "utilities.h"
#include "utilitiesLinux.h"

namespace {

const int kJsonSchemaVersion = 1;
const char kAgentDirectoryStandIn[] = "<agent directory>";
const char kUsage[] =
    "usage: launcher-check [--json] LAUNCHER [LAUNCHER-OPTION...]\n"
    "       launcher-check --version\n";

// --- Small helpers ---------------------------------------------------------

std::string plural(int count, const char* word) {
  return formatText("%d %s%s", count, word, count == 1 ? "" : "s");
}

// Why a file cannot serve as one the launcher reads; "" when it can.
std::string fileProblem(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return strerror(errno);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (access(path.c_str(), R_OK) != 0) return strerror(errno);
  return std::string();
}

// Why a program cannot be started; "" when it can.
std::string programProblem(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return strerror(errno);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (access(path.c_str(), X_OK) != 0) return "not executable";
  return std::string();
}

// Length of the valid UTF-8 sequence at `text[i]`, or 0 when the byte there
// does not begin one.
size_t utf8Length(const std::string& text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = byte(i);
  if (c < 0x80) return 1;
  size_t length;
  unsigned long code;
  if (c >= 0xc2 && c <= 0xdf) {
    length = 2, code = c & 0x1fU;
  } else if (c >= 0xe0 && c <= 0xef) {
    length = 3, code = c & 0x0fU;
  } else if (c >= 0xf0 && c <= 0xf4) {
    length = 4, code = c & 0x07U;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xc0U) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3fU);
  }
  // Overlong forms, surrogates and code points past Unicode are invalid.
  if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
      (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) {
    return 0;
  }
  return length;
}

// `text` in double quotes, with quotes, backslashes, control bytes and each
// byte of invalid UTF-8 escaped: as JSON wants it (\n, \t, \r, \u00XX), or
// for the text output as \xNN, so that blanks, carriage returns and quote
// characters inside a value stay visible.
std::string quoted(const std::string& text, bool json) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = utf8Length(text, i);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (json && c == '\n') {
      out += "\\n";
    } else if (json && c == '\t') {
      out += "\\t";
    } else if (json && c == '\r') {
      out += "\\r";
    } else if (length == 0 || c < 0x20 || (!json && c == 0x7f)) {
      out += formatText(json ? "\\u%04x" : "\\x%02x", c);
      length = 1;
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out + "\"";
}

std::string shown(const std::string& text) { return quoted(text, false); }

size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      bool same = toupper(static_cast<unsigned char>(a[i - 1])) ==
                  toupper(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// --- Problems from the INI file's lines -------------------------------------

struct IniAnalysis {
  std::vector<IniLine> lines;
};

void collectLine(const IniLine& line, void* context) {
  static_cast<IniAnalysis*>(context)->lines.push_back(line);
}

void addProblem(CheckReport* report, const std::string& file, int line,
                CheckSeverity severity, const char* code,
                const std::string& message, const std::string& fix) {
  CheckProblem problem;
  problem.file = file;
  problem.line = line;
  problem.severity = severity;
  problem.code = code;
  problem.message = message;
  problem.fix = fix;
  report->problems.push_back(problem);
}

std::vector<std::string> headerTexts() {
  std::vector<std::string> texts;
  for (const char* header : iniSectionHeaders()) texts.emplace_back(header);
  return texts;
}

bool isBooleanKey(const std::string& key) {
  return key == "SILENT" || key == "ISADMIN" || key == "LICENSEACCEPTED";
}

// A boolean word for `key`: true, yes, and for ISADMIN also false, no.
bool isBooleanWord(const std::string& key, const std::string& value) {
  return isTrueWord(value) || (key == "ISADMIN" && isFalseWord(value));
}

// Blanks around a value that change what the launcher makes of it.
void checkValueBlanks(const IniLine& line, const std::string& iniPath,
                      CheckReport* report) {
  std::string bare = trim(line.value);
  if (bare == line.value || line.key == "MODE") return;
  if (line.key == "VERSION" && compareQRVersion(line.value, bare) == 0) return;
  if (isBooleanKey(line.key) && !isBooleanWord(line.key, bare)) return;
  std::string meaning = isBooleanKey(line.key)
                            ? "the whole value is compared, so " +
                                  shown(line.value) + " is not the word " +
                                  shown(bare)
                            : "the blanks are part of the value " +
                                  shown(line.value);
  addProblem(report, iniPath, line.lineNumber, CHECK_WARNING, "blank-value",
             "blanks around the value of " + line.key + ": " + meaning,
             line.key + "=" + bare);
}

void checkKeyLine(const IniLine& line, const std::string& iniPath,
                  std::map<std::string, int>* firstLine,
                  std::map<std::string, int>* keyLine, CheckReport* report) {
  std::string where = std::string(line.section) + " " + line.key;
  if (line.key != "ARG") {
    auto seen = firstLine->find(where);
    if (seen != firstLine->end()) {
      addProblem(report, iniPath, line.lineNumber, CHECK_WARNING, "duplicate-key",
                 line.key + " is given again in " + line.section +
                     " (first on line " + std::to_string(seen->second) +
                     "): the last one wins",
                 "keep one " + line.key + " line");
    } else {
      (*firstLine)[where] = line.lineNumber;
    }
  }
  (*keyLine)[line.key] = line.lineNumber;
  checkValueBlanks(line, iniPath, report);
}

void checkUnknownKey(const IniLine& line, const std::string& iniPath,
                     CheckReport* report) {
  std::string bareKey = trim(line.key);
  if (bareKey != line.key && iniSectionOfKey(bareKey)) {
    addProblem(report, iniPath, line.lineNumber, CHECK_WARNING, "blank-key",
               "blanks around the key make it " + shown(line.key) +
                   ", which the launcher does not know: the line is ignored",
               bareKey + "=" + trim(line.value));
    return;
  }
  if (const char* section = iniSectionOfKey(line.key)) {
    std::string home = line.key == "ARG" ? "[INSTALLER] or [MANAGER]" : section;
    addProblem(report, iniPath, line.lineNumber, CHECK_WARNING, "wrong-section",
               line.key + " belongs in " + home + "; in " + line.section +
                   " it is ignored",
               "move the line to " + home);
    return;
  }
  std::string nearest = nearestText(bareKey, iniKnownKeys());
  std::string fix = "remove the line";
  if (!nearest.empty()) {
    fix = nearest + "=" + line.value;
    const char* section = iniSectionOfKey(nearest);
    if (nearest != "ARG" && section && strcmp(section, line.section) != 0) {
      fix += std::string(" (in ") + section + ")";
    }
  }
  addProblem(report, iniPath, line.lineNumber, CHECK_WARNING, "unknown-key",
             "unknown key " + shown(line.key) + " in " + line.section +
                 ": the line is ignored",
             fix);
}

void checkUnknownSection(const IniLine& line, const std::string& iniPath,
                         CheckReport* report) {
  std::string text = trim(line.text);
  std::string fix = "remove it, or write [INSTALLER], [MANAGER] or [COMMON]";
  for (const char* header : iniSectionHeaders()) {
    if (text.compare(0, strlen(header), header) == 0) {
      fix = std::string(header) + " alone on its line";
    }
  }
  std::string nearest = nearestText(text, headerTexts());
  if (!nearest.empty() && fix[0] != '[') fix = nearest;
  addProblem(report, iniPath, line.lineNumber, CHECK_WARNING, "unknown-section",
             "unknown section " + shown(text) +
                 ": the lines after it are ignored up to the next known section",
             fix);
}

// `text` without blanks or tabs around it: what the author sees as the
// line's content, unlike the reader's own trim.
std::string visibleText(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void checkOtherLine(const IniLine& line, bool sawHeader,
                    const std::string& iniPath, CheckReport* report) {
  std::string text = visibleText(line.text);
  if (text.empty()) return;
  if (line.action == INI_LINE_OUTSIDE_SECTION) {
    // Lines after an unknown section are that section's problem.
    if (sawHeader) return;
    addProblem(report, iniPath, line.lineNumber, CHECK_WARNING,
               "text-before-section",
               "text before the first section is ignored: " + shown(line.text),
               "put it under [INSTALLER], [MANAGER] or [COMMON], or begin it with ;");
    return;
  }
  for (const char* header : iniSectionHeaders()) {
    if (text == header) {
      addProblem(report, iniPath, line.lineNumber, CHECK_WARNING,
                 "not-a-header",
                 shown(line.text) +
                     " is not a section header: only blanks may surround it",
                 std::string(header) + " at the start of the line");
      return;
    }
  }
  addProblem(report, iniPath, line.lineNumber, CHECK_WARNING, "not-a-key",
             "not a KEY=value line, ignored: " + shown(line.text),
             "KEY=value, or begin the line with ; to make it a comment");
}

// Problems each line of the INI file shows by itself. Returns the line of
// the last applied line of each key, for the problems of the values.
std::map<std::string, int> checkIniLines(const IniAnalysis& analysis,
                                         const std::string& iniPath,
                                         CheckReport* report) {
  std::map<std::string, int> firstLine, keyLine;
  bool sawHeader = false;
  int crlfLines = 0, firstCrlf = 0, lastLongLine = 0;
  for (const IniLine& line : analysis.lines) {
    if (line.continued) {
      // A line of exactly 254 bytes leaves only its newline: no harm done.
      if (!line.text.empty() && line.lineNumber != lastLongLine) {
        lastLongLine = line.lineNumber;
        addProblem(report, iniPath, line.lineNumber, CHECK_WARNING, "long-line",
                   "the line is longer than 254 bytes: it is read as several "
                   "lines, cut after byte 254",
                   "a line of at most 254 bytes (e.g. a shorter path)");
      }
      continue;
    }
    // A carriage return spoils every header and value; one report says it.
    if (line.endsLine && !line.text.empty() && line.text.back() == '\r') {
      if (crlfLines++ == 0) firstCrlf = line.lineNumber;
      continue;
    }
    switch (line.action) {
      case INI_LINE_COMMENT:
        break;
      case INI_LINE_SECTION:
        sawHeader = true;
        break;
      case INI_LINE_UNKNOWN_SECTION:
        sawHeader = true;
        checkUnknownSection(line, iniPath, report);
        break;
      case INI_LINE_OUTSIDE_SECTION:
      case INI_LINE_NOT_A_KEY:
        checkOtherLine(line, sawHeader, iniPath, report);
        break;
      case INI_LINE_KEY_APPLIED:
        checkKeyLine(line, iniPath, &firstLine, &keyLine, report);
        break;
      case INI_LINE_KEY_UNKNOWN:
        checkUnknownKey(line, iniPath, report);
        break;
    }
  }
  if (crlfLines > 0) {
    addProblem(report, iniPath, firstCrlf, CHECK_ERROR, "crlf",
               plural(crlfLines, "line") +
                   " end with CR LF: no section header is recognised and "
                   "no value is read from them",
               "save the file with \\n line ends (sed -i 's/\\r$//' FILE)");
  }
  return keyLine;
}

// --- Problems of the values -------------------------------------------------

int lineOf(const std::map<std::string, int>& keyLine, const std::string& key) {
  auto found = keyLine.find(key);
  return found == keyLine.end() ? 0 : found->second;
}

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

void checkBooleans(const IniSettings& ini, const std::map<std::string, int>& keyLine,
                   const std::string& iniPath, CheckReport* report) {
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
    addProblem(report, iniPath, lineOf(keyLine, name), CHECK_WARNING,
               "bad-boolean", message, fix);
  }
}

void checkModeAndVersion(const IniSettings& ini,
                         const std::map<std::string, int>& keyLine,
                         const std::string& iniPath, CheckReport* report) {
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

void checkPlaceholders(const CheckReport& source,
                       const std::map<std::string, int>& keyLine,
                       const std::string& iniPath, CheckReport* report) {
  const std::string& file = source.ini.iniManagerLocationFile;
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
  if (parseSystemValue(&expanded, file, source.info, source.settings.isUserAdmin) != 0) {
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

void checkLocations(const CheckReport& source,
                    const std::map<std::string, int>& keyLine,
                    const std::string& iniPath, CheckReport* report) {
  const IniSettings& ini = source.ini;
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
  if (!ini.iniManagerLocationFile.empty()) {
    checkPlaceholders(source, keyLine, iniPath, report);
  }
  if (ini.iniManagerLauncher.empty()) {
    addProblem(report, iniPath, lineOf(keyLine, "LAUNCHER"), CHECK_ERROR,
               "empty-launcher",
               "no LAUNCHER in [MANAGER]: the agent program would be the "
               "agent's directory itself, which cannot be started",
               "LAUNCHER=<the agent program, relative to the agent's directory>");
  }
}

void checkInstaller(const CheckReport& source,
                    const std::map<std::string, int>& keyLine,
                    const std::string& iniPath, CheckReport* report) {
  const IniSettings& ini = source.ini;
  int line = lineOf(keyLine, "LOCATION");
  if (ini.iniInstallerLocation.empty()) {
    addProblem(report, iniPath, 0, CHECK_WARNING, "no-installer",
               "no LOCATION in [INSTALLER]: the package works only where a "
               "sufficient agent is already installed",
               "LOCATION=<the installer, relative to the launcher's directory>");
    return;
  }
  InstallerCommand installer;
  createAgtInstallerArgList(source.info, ini, source.cmd, source.settings, &installer);
  if (isMSIFile(ini.iniInstallerLocation)) {
    std::string why = fileProblem(installer.msiFile);
    if (!why.empty()) {
      addProblem(report, iniPath, line, CHECK_ERROR, "installer-missing",
                 "the installer package " + installer.msiFile + ": " + why,
                 "put the installer there, or correct LOCATION");
    }
    if (installer.InstallerProgram.empty()) {
      addProblem(report, iniPath, line, CHECK_ERROR, "no-msiexec",
                 "a .msi installer needs msiexec.exe, and there is none on PATH "
                 "here",
                 "a native installer, or msiexec.exe on the users' PATH");
    }
    return;
  }
  std::string why = programProblem(installer.InstallerProgram);
  if (why.empty()) return;
  const char* code = "installer-missing";
  std::string fix = "put the installer there, or correct LOCATION";
  if (why == "not a regular file") {
    code = "installer-not-file";
  } else if (why == "not executable") {
    code = "installer-not-executable";
    fix = "chmod 755 " + installer.InstallerProgram;
  }
  addProblem(report, iniPath, line, CHECK_ERROR, code,
             "the installer " + installer.InstallerProgram + ": " + why, fix);
}

void checkInputFile(const CheckReport& source,
                    const std::map<std::string, int>& keyLine,
                    const std::string& iniPath, CheckReport* report) {
  if (source.settings.inputFile.empty()) return;
  std::string why = fileProblem(source.settings.inputFile);
  if (why.empty()) return;
  bool fromOption = !source.cmd.argInputFile.empty();
  addProblem(report, fromOption ? std::string() : iniPath,
             fromOption ? 0 : lineOf(keyLine, "INPUT_FILE"), CHECK_WARNING,
             "input-missing",
             std::string(fromOption ? "-input" : "INPUT_FILE") + " names " +
                 source.settings.inputFile + ": " + why +
                 "; the agent gets the path all the same",
             "put the file into the package, or correct the name");
}

// --- The launcher file and its INI file ------------------------------------

void checkLauncherFile(const std::string& launcherPath, CheckReport* report) {
  std::string why = programProblem(launcherPath);
  if (why.empty()) return;
  bool executable = why == "not executable";
  addProblem(report, launcherPath, 0, CHECK_ERROR,
             executable ? "launcher-not-executable" : "launcher-missing",
             "the launcher " + launcherPath + ": " + why,
             executable ? "chmod 755 " + launcherPath : "copy the launcher program there");
}

// INI files beside the launcher that belong to other launcher names.
std::vector<std::string> otherIniNames(const std::string& dir) {
  std::vector<std::string> names;
  DIR* directory = opendir(dir.empty() ? "." : dir.c_str());
  if (!directory) return names;
  // The tool is single-threaded: readdir's shared buffer is safe here.
  // cppcheck-suppress readdirCalled
  while (const struct dirent* entry = readdir(directory)) {
    std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ini") == 0 &&
        fileProblem(dir + name).empty()) {
      names.push_back(name);
    }
  }
  closedir(directory);
  std::sort(names.begin(), names.end());
  return names;
}

void checkIniMissing(CheckReport* report) {
  const LauncherInfo& info = report->info;
  std::string expected = info.launcherName + ".ini";
  std::vector<std::string> others = otherIniNames(info.launcherDir);
  if (!others.empty()) {
    const std::string& other = others[0];
    std::string otherName = other.substr(0, other.size() - 4);
    addProblem(report, report->iniPath, 0, CHECK_ERROR, "ini-other-name",
               "there is no " + expected + ", but " + other + " lies beside "
               "the launcher: the launcher named " + info.launcherFile +
                   " reads " + expected + ", so every run ends with status 1",
               "rename " + other + " to " + expected + ", or the launcher to " +
                   otherName);
    return;
  }
  addProblem(report, report->iniPath, 0, CHECK_ERROR, "ini-missing",
             "the INI file cannot be read: " + fileProblem(report->iniPath) +
                 "; every run ends with status 1",
             expected + " beside " + info.launcherFile);
}

// --- What a run would do ----------------------------------------------------

std::string flag(int value) { return std::to_string(value); }

void addSetting(CheckReport* report, const std::string& name,
                const std::string& value, const std::string& source,
                bool plain = false) {
  report->effective.push_back(CheckSetting{name, value, source, plain});
}

// Where each effective setting came from, told by merging the INI file and
// the command line with each of them left out in turn: the merge rule itself
// stays in one place.
void describeSettings(CheckReport* report) {
  const IniSettings none;
  const CmdSettings noOptions;
  Settings onlyCmd, onlyIni, neither;
  processCmdLineAndIni(report->info, none, report->cmd, &onlyCmd);
  processCmdLineAndIni(report->info, report->ini, noOptions, &onlyIni);
  processCmdLineAndIni(report->info, none, noOptions, &neither);
  struct Field {
    const char* name;
    std::string (*get)(const Settings&);
    bool isFlag;
  };
  const Field fields[] = {
      {"isSilent", [](const Settings& s) { return flag(s.isSilent); }, true},
      {"isWait", [](const Settings& s) { return flag(s.isWait); }, true},
      {"isDialogAllowed", [](const Settings& s) { return flag(s.isDialogAllowed); }, true},
      {"isUserAdmin", [](const Settings& s) { return flag(s.isUserAdmin); }, true},
      {"isLicenseAccepted", [](const Settings& s) { return flag(s.isLicenseAccepted); }, true},
      {"appDataLocation", [](const Settings& s) { return s.appDataLocation; }, false},
      {"nl", [](const Settings& s) { return s.nl; }, false},
      {"inputFile", [](const Settings& s) { return s.inputFile; }, false},
  };
  for (const Field& field : fields) {
    std::string value = field.get(report->settings);
    std::string source = "default";
    if (value == field.get(onlyCmd) && value != field.get(neither)) {
      source = "option";
    } else if (value == field.get(onlyIni) && value != field.get(neither)) {
      source = "INI";
    }
    addSetting(report, field.name, value, source, field.isFlag);
  }

  const IniSettings& ini = report->ini;
  const std::pair<const char*, const std::string*> iniOnly[] = {
      {"[INSTALLER] LOCATION", &ini.iniInstallerLocation},
      {"[MANAGER] LOCATION_KEY", &ini.iniManagerLocationKey},
      {"[MANAGER] LOCATION_FILE", &ini.iniManagerLocationFile},
      {"[MANAGER] VERSION", &ini.iniManagerVersion},
      {"[MANAGER] LAUNCHER", &ini.iniManagerLauncher},
      {"[MANAGER] LAUNCHER_SILENT", &ini.iniManagerLauncherSilent},
  };
  for (const auto& entry : iniOnly) {
    addSetting(report, entry.first, *entry.second,
               entry.second->empty() ? "default" : "INI");
  }
  addSetting(report, "[MANAGER] MODE", modeName(ini.mode),
             ini.iniMode.empty() ? "default" : "INI");

  auto listText = [](const std::vector<std::string>& list) {
    std::string text;
    for (const std::string& item : list) text += (text.empty() ? "" : " ") + shown(item);
    return text;
  };
  const struct {
    const char* name;
    const std::vector<std::string>& option;
    const std::vector<std::string>& file;
  } lists[] = {
      {"installer extra arguments", report->cmd.argInstallerArgs, ini.iniInstallerArgs},
      {"agent extra arguments", report->cmd.argManagerArgs, ini.iniManagerArgs},
  };
  for (const auto& list : lists) {
    // A command-line list replaces the INI list whole.
    if (!list.option.empty()) {
      addSetting(report, list.name, listText(list.option), "option", true);
    } else {
      addSetting(report, list.name, listText(list.file),
                 list.file.empty() ? "default" : "INI", true);
    }
  }
  if (report->cmd.isDebug) addSetting(report, "log", report->cmd.argLogFile, "option");
}

void addLook(CheckReport* report, const char* kind, const std::string& what,
             const std::string& path, const std::string& value,
             const std::string& whyNot) {
  CheckLook look;
  look.kind = kind;
  look.what = what;
  look.path = path;
  look.found = !value.empty();
  look.value = value;
  if (!look.found) {
    std::string why = path.empty() ? std::string() : fileProblem(path);
    look.why = why.empty() ? whyNot : why;
  }
  report->looks.push_back(look);
}

void describeProbe(CheckReport* report) {
  const ProbeTrace& trace = report->trace;
  if (trace.locationSource.empty()) {
    addLook(report, "location", "agent location", "", "",
            "neither LOCATION_KEY nor LOCATION_FILE is set");
    return;
  }
  bool isKey = trace.locationSource == "key";
  std::string what = isKey ? (trace.keyType == KEY_TYPE_MACHINE
                                  ? "location key file (admin mode: the key is the path)"
                                  : "location key file (per user, under the home directory)")
                           : "reference file";
  addLook(report, isKey ? "key" : "file", what, trace.keyFile, report->agent.refLocation,
          trace.keyFile.empty() ? "no home directory (HOME is unset and the user "
                                  "has no password entry)"
                                : "it holds no location= line");
  if (report->agent.refLocation.empty()) return;
  addLook(report, "config", "agent configuration file", trace.configFile, trace.appDataDir,
          "it holds no zel.appDataLocation= line with a value");
  if (trace.appDataDir.empty()) return;
  addLook(report, "packages", "installed-packages file", trace.installedXMLFile,
          report->agent.refVersion,
          std::string("it holds no line with <package id='") + kAgentPackageId +
              "' version='...'");
}

void decideRun(CheckReport* report) {
  const Settings& settings = report->settings;
  std::string start = settings.isWait
                          ? "the agent runs as a child that the launcher waits "
                            "for, started again while it exits with 23; its "
                            "status is the launcher's"
                          : "the agent replaces the launcher (exec); its exit "
                            "status is the caller's";
  if (report->sufficient) {
    createAgentArgList(report->ini, report->cmd, settings, report->agent,
                       &report->agentCommand);
    report->agentKnown = true;
    report->agentWaited = settings.isWait;
    if (!isFileExist(report->agentCommand.AgentProgram)) {
      report->endStatus = 1;
      report->endText = "the agent program " + report->agentCommand.AgentProgram +
                        " is missing: error message, exit status 1";
      return;
    }
    report->endText = start;
    return;
  }
  if (report->ini.iniInstallerLocation.empty()) {
    report->endStatus = 1;
    report->endText = "no sufficient agent and no installer: error message, "
                      "exit status 1";
    return;
  }
  createAgtInstallerArgList(report->info, report->ini, report->cmd, settings,
                            &report->installer);
  const std::string& image = isMSIFile(report->ini.iniInstallerLocation)
                                 ? report->installer.msiFile
                                 : report->installer.InstallerProgram;
  if (!isFileExist(image)) {
    report->endStatus = 1;
    report->endText = "the installer " + image + " is missing: error message, "
                      "exit status 1";
    return;
  }
  report->installerRuns = true;
  // Where the agent lands is the installer's business: the agent's command
  // line is shown for a stand-in directory, as the composer makes it.
  AgentInfo landed;
  landed.refLocation = kAgentDirectoryStandIn;
  createAgentArgList(report->ini, report->cmd, settings, landed, &report->agentCommand);
  report->agentPredicted = true;
  report->agentWaited = settings.isWait;
  report->endText =
      "the installer runs as a child" +
      (settings.nl.empty() ? std::string() : " with LANG=" + settings.nl) +
      "; then by its exit status:\n"
      "0: the launcher looks for the agent again; when a sufficient one is "
      "found, " + start + "; else error message, exit status 1\n"
      "232: cancelled by the user, exit status 232\n"
      "any other N: error message \"Return Code=N\", exit status N";
}

// --- Text and JSON ----------------------------------------------------------

const char* severityName(CheckSeverity severity) {
  return severity == CHECK_ERROR ? "error" : "warning";
}

std::string problemLocation(const CheckProblem& problem) {
  if (problem.file.empty()) return "command line";
  if (problem.line == 0) return problem.file;
  return problem.file + ":" + std::to_string(problem.line);
}

void appendArgv(std::string* out, const std::vector<std::string>& argv) {
  for (size_t i = 0; i < argv.size(); ++i) {
    *out += formatText("      argv[%zu] = ", i) + shown(argv[i]) + "\n";
  }
}

std::string jsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    out += (i ? ", " : "") + jsonString(items[i]);
  }
  return out + "]";
}

std::string jsonBool(bool value) { return value ? "true" : "false"; }

std::string jsonProblems(const CheckReport& report) {
  std::string out = "[";
  for (size_t i = 0; i < report.problems.size(); ++i) {
    const CheckProblem& p = report.problems[i];
    out += std::string(i ? "," : "") + "\n    {\"file\": " + jsonString(p.file) +
           ", \"line\": " + std::to_string(p.line) + ", \"severity\": \"" +
           severityName(p.severity) + "\", \"code\": " + jsonString(p.code) +
           ",\n     \"message\": " + jsonString(p.message) +
           ",\n     \"fix\": " + jsonString(p.fix) + "}";
  }
  return out + (report.problems.empty() ? "]" : "\n  ]");
}

std::string jsonRun(const CheckReport& report) {
  std::string out = "{\n    \"help\": " + jsonBool(report.help) + ",\n    \"settings\": [";
  for (size_t i = 0; i < report.effective.size(); ++i) {
    const CheckSetting& s = report.effective[i];
    out += std::string(i ? "," : "") + "\n      {\"name\": " + jsonString(s.name) +
           ", \"value\": " + jsonString(s.value) +
           ", \"source\": " + jsonString(s.source) + "}";
  }
  out += report.effective.empty() ? "],\n" : "\n    ],\n";
  out += "    \"probe\": [";
  for (size_t i = 0; i < report.looks.size(); ++i) {
    const CheckLook& l = report.looks[i];
    out += std::string(i ? "," : "") + "\n      {\"kind\": " + jsonString(l.kind) +
           ", \"what\": " + jsonString(l.what) +
           ", \"path\": " + jsonString(l.path) + ", \"found\": " + jsonBool(l.found) +
           ", \"value\": " + jsonString(l.value) + ", \"why\": " + jsonString(l.why) + "}";
  }
  out += report.looks.empty() ? "],\n" : "\n    ],\n";
  out += "    \"agentLocation\": " + jsonString(report.agent.refLocation) +
         ",\n    \"agentVersion\": " + jsonString(report.agent.refVersion) +
         ",\n    \"requiredVersion\": " + jsonString(report.ini.iniManagerVersion) +
         ",\n    \"sufficient\": " + jsonBool(report.sufficient) + ",\n";
  out += "    \"installer\": ";
  if (report.installerRuns) {
    out += "{\"program\": " + jsonString(report.installer.InstallerProgram) +
           ", \"argv\": " + jsonArray(report.installer.installerArglist) +
           ", \"lang\": " + jsonString(report.settings.nl) + "},\n";
  } else {
    out += "null,\n";
  }
  out += "    \"agent\": ";
  if (report.agentKnown || report.agentPredicted) {
    out += "{\"afterInstall\": " + jsonBool(report.agentPredicted) +
           ", \"program\": " + jsonString(report.agentCommand.AgentProgram) +
           ", \"argv\": " + jsonArray(report.agentCommand.agentArglist) +
           ", \"start\": \"" + (report.agentWaited ? "wait" : "exec") + "\"},\n";
  } else {
    out += "null,\n";
  }
  out += "    \"end\": {\"status\": " +
         (report.endStatus < 0 ? std::string("null") : std::to_string(report.endStatus)) +
         ", \"text\": " + jsonString(report.endText) + "}\n  }";
  return out;
}

}  // namespace

std::string nearestText(const std::string& text,
                        const std::vector<std::string>& known) {
  size_t allowed = text.size() <= 3 ? 0 : text.size() <= 5 ? 1
                                                            : std::max<size_t>(2, text.size() / 3);
  std::string best;
  size_t bestDistance = allowed + 1;
  for (const std::string& candidate : known) {
    size_t distance = editDistance(text, candidate);
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

std::string jsonString(const std::string& bytes) {
  return quoted(bytes, true);
}

void checkPackage(const std::string& launcherPath,
                  const std::vector<std::string>& args, CheckReport* report) {
  report->launcherArgs = args;
  // The launcher started by this path would find itself here; the file
  // need not exist yet for the package beside it to be explained.
  std::string fullPath = launcherPath;
  if (!isFileAbsolute(launcherPath)) {
    char* cwd = getcwd(nullptr, 0);
    if (cwd) fullPath = std::string(cwd) + "/" + launcherPath;
    free(cwd);
  }
  setLauncherInfo(fullPath, &report->info);
  checkLauncherFile(fullPath, report);

  report->iniPath = report->info.launcherDir + report->info.launcherName + ".ini";
  IniAnalysis analysis;
  IniListener listener{collectLine, &analysis};
  report->iniRead = processINI(report->iniPath, &report->ini, &listener) == 1;
  if (!report->iniRead) {
    checkIniMissing(report);
    report->endStatus = 1;
    report->endText = "the INI file cannot be read: error message \"Cannot open "
                      "INI file\", exit status 1";
    return;
  }

  std::vector<std::string> argvText = {fullPath};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argvText.size() + 1);
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  report->help = parseCmdlineArg(static_cast<int>(argvText.size()), argv.data(),
                                 &report->cmd) == 0;
  processCmdLineAndIni(report->info, report->ini, report->cmd, &report->settings);

  std::map<std::string, int> keyLine = checkIniLines(analysis, report->iniPath, report);
  checkBooleans(report->ini, keyLine, report->iniPath, report);
  checkModeAndVersion(report->ini, keyLine, report->iniPath, report);
  checkLocations(*report, keyLine, report->iniPath, report);
  checkInstaller(*report, keyLine, report->iniPath, report);
  checkInputFile(*report, keyLine, report->iniPath, report);

  describeSettings(report);
  if (report->help) {
    report->endStatus = 0;
    report->endText = "a help option: the usage is shown, nothing else runs, "
                      "exit status 0";
    return;
  }
  getInstalledAgentInfo(report->info, report->ini, report->settings,
                        &report->agent, &report->trace);
  describeProbe(report);
  report->sufficient = isAgentSufficient(report->agent, report->ini);
  decideRun(report);
  if (report->agentKnown && report->endStatus == 1) {
    addProblem(report, report->iniPath, lineOf(keyLine, "LAUNCHER"), CHECK_ERROR,
               "agent-program-missing",
               "the agent installed here has no program " +
                   report->agentCommand.AgentProgram,
               "LAUNCHER=<the agent program, relative to " +
                   report->agent.refLocation + ">");
  }
}

int countProblems(const CheckReport& report, CheckSeverity severity) {
  int count = 0;
  for (const CheckProblem& problem : report.problems) {
    if (problem.severity == severity) ++count;
  }
  return count;
}

std::string formatCheckText(const CheckReport& report) {
  std::string out = "launcher-check " LAUNCHER_VERSION "\n";
  out += "Launcher: " + report.info.launcherFullPath + "\n";
  std::string options;
  for (const std::string& arg : report.launcherArgs) options += " " + shown(arg);
  out += "Options:" + (options.empty() ? std::string(" (none)") : options) + "\n\n";

  out += "Problems: " + plural(countProblems(report, CHECK_ERROR), "error") + ", " +
         plural(countProblems(report, CHECK_WARNING), "warning") + "\n";
  for (const CheckProblem& p : report.problems) {
    out += "  " + problemLocation(p) + ": " + severityName(p.severity) + ": " +
           p.message + "\n      instead: " + p.fix + "\n";
  }

  out += "\nWhat a run would do here\n";
  out += "  Launcher directory: " + report.info.launcherDir + "\n";
  out += "  INI file: " + report.iniPath + (report.iniRead ? "" : " (cannot be read)") + "\n";
  if (!report.effective.empty()) out += "  Effective settings:\n";
  for (const CheckSetting& s : report.effective) {
    out += formatText("    %-26s ", s.name.c_str()) + (!s.plain ? shown(s.value) : s.value.empty() ? "none" : s.value) +
           "  (" + s.source + ")\n";
  }
  if (!report.looks.empty()) out += "  Looking for the agent:\n";
  for (const CheckLook& look : report.looks) {
    out += "    " + look.what + (look.path.empty() ? "" : ": " + look.path) + "\n";
    out += look.found ? "      found " + shown(look.value) + "\n"
                      : "      nothing: " + look.why + "\n";
  }
  if (report.iniRead && !report.help) {
    out += "  Agent: " +
           (report.agent.refVersion.empty() ? std::string("not found")
                                            : "version " + report.agent.refVersion) +
           "; required " +
           (report.ini.iniManagerVersion.empty() ? std::string("any")
                                                 : report.ini.iniManagerVersion) +
           ": " + (report.sufficient ? "sufficient" : "not sufficient") + "\n";
  }
  if (report.installerRuns) {
    out += "  The installer would run:\n";
    appendArgv(&out, report.installer.installerArglist);
  }
  if (report.agentKnown) {
    out += std::string("  The agent would start (") +
           (report.agentWaited ? "waited for" : "replacing the launcher") + "):\n";
    appendArgv(&out, report.agentCommand.agentArglist);
  } else if (report.agentPredicted) {
    out += std::string("  The agent's command line is known only after the "
                       "installer has run; if the agent then lands in a "
                       "directory D, it is (") +
           (report.agentWaited ? "waited for" : "replacing the launcher") +
           "), with D for " + kAgentDirectoryStandIn + ":\n";
    appendArgv(&out, report.agentCommand.agentArglist);
  }
  std::string end = report.endText;
  for (size_t at = 0; (at = end.find('\n', at)) != std::string::npos; at += 8) {
    end.insert(at + 1, "       ");
  }
  out += "  End: " + end + "\n";
  return out;
}

std::string formatCheckJson(const CheckReport& report) {
  std::string out = "{\n";
  out += "  \"schemaVersion\": " + std::to_string(kJsonSchemaVersion) + ",\n";
  out += "  \"tool\": {\"name\": \"launcher-check\", \"version\": \"" LAUNCHER_VERSION "\"},\n";
  out += "  \"launcher\": " + jsonString(report.info.launcherFullPath) + ",\n";
  out += "  \"options\": " + jsonArray(report.launcherArgs) + ",\n";
  out += "  \"launcherDir\": " + jsonString(report.info.launcherDir) + ",\n";
  out += "  \"iniFile\": " + jsonString(report.iniPath) + ",\n";
  out += "  \"iniRead\": " + jsonBool(report.iniRead) + ",\n";
  out += "  \"errors\": " + std::to_string(countProblems(report, CHECK_ERROR)) + ",\n";
  out += "  \"warnings\": " + std::to_string(countProblems(report, CHECK_WARNING)) + ",\n";
  out += "  \"problems\": " + jsonProblems(report) + ",\n";
  out += "  \"run\": " + jsonRun(report) + "\n}\n";
  return out;
}

int launcherCheckMain(int argc, char** argv) {
  bool json = false;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    std::string option = argv[i];
    if (option == "--json") {
      json = true;
    } else if (option == "--version") {
      printf("launcher-check %s\n", LAUNCHER_VERSION);
      return 0;
    } else if (option == "--help") {
      fputs(kUsage, stdout);
      return 0;
    } else if (option == "--") {
      ++i;
      break;
    } else {
      fprintf(stderr, "launcher-check: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    }
  }
  if (i >= argc || argv[i][0] == '\0') {
    fputs(kUsage, stderr);
    return 2;
  }
  CheckReport report;
  checkPackage(argv[i], std::vector<std::string>(argv + i + 1, argv + argc), &report);
  std::string out = json ? formatCheckJson(report) : formatCheckText(report);
  fwrite(out.data(), 1, out.size(), stdout);
  if (fflush(stdout) != 0) {
    perror("launcher-check: standard output");
    return 2;
  }
  return countProblems(report, CHECK_ERROR) > 0 ? 1 : 0;
}
