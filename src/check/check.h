// launcher-check: explains a package before it ships. It reads the package
// the way the launcher would (the same INI reader, command-line parser,
// effective settings, agent probe and command lines), lists what is wrong
// with it, and tells what a run would do here. It runs nothing, shows
// nothing and writes no file.
//
// This unit holds the report every other check unit fills, and the few
// helpers they share to put a problem into it and to show a value.
#ifndef LAUNCHER_CHECK_H_
#define LAUNCHER_CHECK_H_

#include <map>
#include <string>
#include <vector>

#include "checkIdentity.h"
#include "probe.h"
#include "records.h"

enum CheckSeverity { CHECK_ERROR, CHECK_WARNING };

// A problem that another explains, as it was found.
struct CheckConsequence {
  int line = 0;
  CheckSeverity severity = CHECK_WARNING;
  std::string code;
  std::string message;
};

struct CheckProblem {
  std::string file;
  int line = 0;  // 0: the file as a whole, or no file line at all
  CheckSeverity severity = CHECK_WARNING;
  std::string code;     // stable name of the problem class
  std::string message;  // what is wrong and what the launcher makes of it
  std::string fix;      // what to write or do instead
  // The problems this one explains: gone once it is mended, so they are
  // listed under it and not counted.
  std::vector<CheckConsequence> consequences;
};

// One effective setting and where it came from: "INI", "option" or
// "default".
struct CheckSetting {
  std::string name;
  std::string value;
  std::string source;
  bool plain = false;  // a flag or a list: the text output shows it unquoted
};

// One place the probe looked, and what it found there or why not.
struct CheckLook {
  // "location" (nothing to look at), "key", "file" (the reference file),
  // "config" (the agent's configuration file) or "packages" (its
  // installed-packages file): stable, for programs.
  std::string kind;
  std::string what;  // for people, e.g. "location key file"
  std::string path;
  bool found = false;
  std::string value;  // what was read, when found
  std::string why;    // why nothing was found
};

// A file the launcher reads after the installer has ended with 0, and what
// it must hold for the agent to be found and started.
struct CheckExpectation {
  std::string path;
  std::string holds;
};

struct CheckReport {
  // Set by the caller: whom the run is explained for, and whether as on a
  // machine where no agent is installed.
  CheckIdentity identity;
  bool clean = false;
  // The INI file's bytes, when a changed copy of the package's INI is judged
  // (a mended cause, a suggested fix) instead of the file itself.
  bool iniFromText = false;
  std::string iniText;

  bool iniRead = false;
  bool help = false;  // a help form: the run only shows the usage
  std::vector<std::string> launcherArgs;
  LauncherInfo info;
  std::string iniPath;
  IniSettings ini;
  CmdSettings cmd;
  Settings settings;
  std::vector<CheckProblem> problems;
  std::vector<CheckSetting> effective;

  ProbeTrace trace;
  AgentInfo agent;
  std::vector<CheckLook> looks;

  bool sufficient = false;
  bool installerRuns = false;   // the installer would be started
  bool agentKnown = false;      // the agent's command line is known now
  bool agentPredicted = false;  // shown for "<agent directory>" after install
  bool agentWaited = false;     // a child that is waited for, else exec
  InstallerCommand installer;
  AgentCommand agentCommand;
  std::vector<CheckExpectation> contract;  // when the installer runs

  // How the run ends as far as it can be known here: a status, or -1 when
  // the agent's or the installer's own status decides. When the run cannot
  // succeed: what mends it.
  int endStatus = -1;
  bool runFails = false;
  std::string endText;
  std::string failFix;
};

// The line of the INI file that last set each key; a key that is not there
// has line 0.
using KeyLines = std::map<std::string, int>;
int lineOf(const KeyLines& keyLine, const std::string& key);

void addProblem(CheckReport* report, const std::string& file, int line,
                CheckSeverity severity, const char* code,
                const std::string& message, const std::string& fix);
int countProblems(const CheckReport& report, CheckSeverity severity);
// The first error that explains others, or null.
const CheckProblem* firstCause(const CheckReport& report);

// "1 error", "2 errors".
std::string plural(int count, const char* word);
// `text` in double quotes for people, escaped as escapedText does and the
// quote too, so that blanks, carriage returns and quote characters inside a
// value stay visible.
std::string shown(const std::string& text);
// A JSON string literal. Invalid UTF-8 bytes become \u0080..\u00ff, one per
// byte; valid characters are never escaped above U+007F, so such an escape
// always stands for a raw byte.
std::string jsonString(const std::string& bytes);
// Why the installed-packages file at `path` names no agent version: most
// often an agent line written with double quotes, which the launcher does
// not read.
std::string packagesFileWhy(const std::string& path);
// The known text nearest to `text` (ignoring case), or "" when none is
// close enough to be a likely misspelling.
std::string nearestText(const std::string& text,
                        const std::vector<std::string>& known);

#endif  // LAUNCHER_CHECK_H_
