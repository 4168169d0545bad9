// What the launcher is told: its own location, the INI file, the command
// line, and the effective settings merged from both. Deciding only: nothing
// here shows a message or ends the process.
#ifndef LAUNCHER_SETTINGS_H_
#define LAUNCHER_SETTINGS_H_

#include <cstdio>
#include <string>
#include <vector>

#include "records.h"

// Fills the launcher's directory (with its trailing '/'), file name and name
// without extension from its full path.
void setLauncherInfo(const std::string& fullPath, LauncherInfo* info);

// What the INI reader did with one line of the file. The reader behaves the
// same with or without a listener; a listener only learns why.
enum IniLineAction {
  INI_LINE_COMMENT,          // begins with ';'
  INI_LINE_SECTION,          // a known section header: that section is open
  INI_LINE_UNKNOWN_SECTION,  // begins with '[': no section is open after it
  INI_LINE_OUTSIDE_SECTION,  // no section is open: ignored
  INI_LINE_NOT_A_KEY,        // no '=' or '=' first: ignored
  INI_LINE_KEY_APPLIED,      // the key's value was taken (ARG: collected)
  INI_LINE_KEY_UNKNOWN,      // no such key in the open section: ignored
};

struct IniLine {
  int lineNumber = 0;         // physical line of the file, from 1
  std::string text;           // the line, without its newline
  IniLineAction action = INI_LINE_COMMENT;
  const char* section = "";   // header of the section open after the line
  std::string key, value;     // for the key actions
};

struct IniListener {
  void (*onLine)(const IniLine& line, void* context);
  void* context;
};

// Reads the launcher INI file. 1 when read, 0 when it cannot be opened.
int processINI(const std::string& path, IniSettings* ini,
               const IniListener* listener = nullptr);
// The same from a file the caller opened (null: cannot be opened); the file
// stays open.
int processINI(FILE* file, IniSettings* ini, const IniListener* listener = nullptr);

// The INI file's vocabulary: its section headers, and the header of the
// section that knows `key` (null when no section does).
const std::vector<const char*>& iniSectionHeaders();
const char* iniSectionOfKey(const std::string& key);
// Every key name the reader knows, in any section.
std::vector<std::string> iniKnownKeys();
// Index of the launch mode that `value` names (blanks around it allowed),
// or -1 when it names none; and the word that names `mode`.
int parseMode(const std::string& value);
const char* modeName(int mode);

// What the parser did with one argument. The parser behaves the same with
// or without a listener; a listener only learns why.
enum CmdArgAction {
  CMD_ARG_HELP,          // a help form: the arguments after it are not read
  CMD_ARG_OPTION,        // a flag, or an option whose value follows
  CMD_ARG_VALUE,         // the value of the option before it
  CMD_ARG_NO_VALUE,      // an option that takes a value, in the last place
  CMD_ARG_COLLECT,       // -installerArgs or -managerArgs
  CMD_ARG_TO_INSTALLER,  // collected for the installer
  CMD_ARG_TO_AGENT,      // collected for the agent
  CMD_ARG_IGNORED,       // no option the launcher knows
};

struct CmdlineListener {
  void (*onArg)(int index, CmdArgAction action, void* context);
  void* context;
};

// Parses the launcher's own arguments. 1 when the run goes on; 0 when a help
// form was given (the caller shows the usage and ends with 0), with the
// arguments before it applied.
int parseCmdlineArg(int argc, char** argv, CmdSettings* cmd,
                    const CmdlineListener* listener = nullptr);
// 1 when "--version" or "-version" stands where the parser reads options
// (before any help form): the launcher prints its version and ends.
int isVersionRequest(int argc, char** argv);
// Every option word the parser knows, help forms included.
std::vector<std::string> launcherOptionNames();

// True for "true" and "yes", whole and untrimmed, ignoring case.
bool isTrueWord(const std::string& value);
bool isFalseWord(const std::string& value);
// "-isAdmin" or ISADMIN true: the request that admin arguments be passed on.
bool isExplicitAdminRequest(const IniSettings& ini, const CmdSettings& cmd);
void processCmdLineAndIni(const LauncherInfo& info, const IniSettings& ini,
                          const CmdSettings& cmd, Settings* settings);

#endif  // LAUNCHER_SETTINGS_H_
