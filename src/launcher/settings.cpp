#include "settings.h"

#include <cstring>

#include "files.h"
#include "log.h"
#include "utilities.h"
#include "utilitiesLinux.h"

namespace {

// --- INI file --------------------------------------------------------------

enum Section { SECTION_NONE, SECTION_INSTALLER, SECTION_MANAGER, SECTION_COMMON };

struct IniHeader {
  const char* text;
  Section section;
};

const IniHeader kIniHeaders[] = {
    {"[INSTALLER]", SECTION_INSTALLER},
    {"[MANAGER]", SECTION_MANAGER},
    {"[COMMON]", SECTION_COMMON},
};

struct IniKey {
  Section section;
  const char* name;
  std::string IniSettings::*field;
};

const IniKey kIniKeys[] = {
    {SECTION_INSTALLER, "LOCATION", &IniSettings::iniInstallerLocation},
    {SECTION_INSTALLER, "LICENSEACCEPTED", &IniSettings::iniLicenseAccepted},
    {SECTION_MANAGER, "LOCATION_KEY", &IniSettings::iniManagerLocationKey},
    {SECTION_MANAGER, "LOCATION_FILE", &IniSettings::iniManagerLocationFile},
    {SECTION_MANAGER, "VERSION", &IniSettings::iniManagerVersion},
    {SECTION_MANAGER, "LAUNCHER", &IniSettings::iniManagerLauncher},
    {SECTION_MANAGER, "LAUNCHER_SILENT", &IniSettings::iniManagerLauncherSilent},
    {SECTION_MANAGER, "INPUT_FILE", &IniSettings::iniManagerInput},
    {SECTION_COMMON, "SILENT", &IniSettings::iniSilent},
    {SECTION_COMMON, "ISADMIN", &IniSettings::iniIsAdmin},
    {SECTION_COMMON, "APPDATALOCATION", &IniSettings::iniAppDataLocation},
    {SECTION_COMMON, "NL", &IniSettings::iniNL},
};

const char* const kModeWords[] = {"INSTALL", "UNINSTALL", "EXTENSION"};

const char kArgKey[] = "ARG";
const char kModeKey[] = "MODE";

const char* sectionHeader(Section section) {
  for (const IniHeader& header : kIniHeaders) {
    if (header.section == section) return header.text;
  }
  return "";
}

// Returns whether the key was taken.
bool applyIniKey(Section section, const std::string& key,
                 const std::string& value, IniSettings* ini) {
  if (key == kArgKey) {
    if (section == SECTION_INSTALLER) ini->iniInstallerArgs.push_back(value);
    if (section == SECTION_MANAGER) ini->iniManagerArgs.push_back(value);
    return section == SECTION_INSTALLER || section == SECTION_MANAGER;
  }
  if (section == SECTION_MANAGER && key == kModeKey) {
    ini->iniMode = value;
    int mode = parseMode(value);
    if (mode >= 0) ini->mode = mode;
    return true;
  }
  for (const IniKey& known : kIniKeys) {
    if (known.section == section && key == known.name) {
      ini->*known.field = value;
      return true;
    }
  }
  return false;
}

// One line of the INI file through the section state machine.
IniLineAction readIniLine(const std::string& line, Section* section,
                          std::string* key, std::string* value,
                          IniSettings* ini) {
  if (line[0] == ';') return INI_LINE_COMMENT;
  std::string trimmed = trim(line);
  bool isHeader = false;
  for (const IniHeader& header : kIniHeaders) {
    if (trimmed == header.text) {
      *section = header.section;
      isHeader = true;
    }
  }
  if (isHeader) return INI_LINE_SECTION;
  if (line[0] == '[') {
    *section = SECTION_NONE;
    return INI_LINE_UNKNOWN_SECTION;
  }
  if (*section == SECTION_NONE) return INI_LINE_OUTSIDE_SECTION;
  if (parseKey(line, key, value) != 0) return INI_LINE_NOT_A_KEY;
  return applyIniKey(*section, *key, *value, ini) ? INI_LINE_KEY_APPLIED
                                                   : INI_LINE_KEY_UNKNOWN;
}

// --- Command line ----------------------------------------------------------

// The usage text offers "-h", so it asks for help like the others: read as
// an unknown word it would install and start the agent instead.
const char* const kHelpForms[] = {"-help", "--help", "-h", "-?", "/help", "/?"};
// A question about the launcher itself: answered before anything is read.
const char* const kVersionForms[] = {"--version", "-version"};
const char kCollectInstaller[] = "-installerArgs";
const char kCollectManager[] = "-managerArgs";

struct ValueOption {
  const char* name;
  std::string CmdSettings::*field;
};

const ValueOption kValueOptions[] = {
    {"-input", &CmdSettings::argInputFile},
    {"-appDataLocation", &CmdSettings::argAppDataLocation},
    {"-nl", &CmdSettings::argNL},
    {"-log", &CmdSettings::argLogFile},
};

struct FlagOption {
  const char* name;
  int CmdSettings::*field;
};

const FlagOption kFlagOptions[] = {
    {"-silent", &CmdSettings::argIsSilent},
    {"-wait", &CmdSettings::isWait},
    {"-isAdmin", &CmdSettings::argIsUserAdmin},
    {"-licenseAccepted", &CmdSettings::argLicenseAccepted},
};

bool isHelpForm(const char* arg) {
  for (const char* help : kHelpForms) {
    if (strcmp(arg, help) == 0) return true;
  }
  return false;
}

struct VersionScan {
  char** argv;
  int found;
};

void noteVersionForm(int index, CmdArgAction action, void* context) {
  VersionScan* scan = static_cast<VersionScan*>(context);
  if (action != CMD_ARG_IGNORED) return;
  for (const char* form : kVersionForms) {
    if (strcmp(scan->argv[index], form) == 0) scan->found = 1;
  }
}

void tell(const CmdlineListener* listener, int index, CmdArgAction action) {
  if (listener) listener->onArg(index, action, listener->context);
}

// Applies one argument in the normal state; returns how many arguments it
// consumed beyond itself.
int applyOption(int argc, char** argv, int i, CmdSettings* cmd,
                const CmdlineListener* listener) {
  const char* arg = argv[i];
  for (const ValueOption& option : kValueOptions) {
    if (strcmp(arg, option.name) != 0) continue;
    // A value option in the last place has no value and no effect.
    if (i + 1 >= argc) {
      tell(listener, i, CMD_ARG_NO_VALUE);
      return 0;
    }
    cmd->*option.field = argv[i + 1];
    if (option.field == &CmdSettings::argLogFile) cmd->isDebug = 1;
    tell(listener, i, CMD_ARG_OPTION);
    tell(listener, i + 1, CMD_ARG_VALUE);
    return 1;
  }
  for (const FlagOption& option : kFlagOptions) {
    if (strcmp(arg, option.name) == 0) {
      cmd->*option.field = 1;
      tell(listener, i, CMD_ARG_OPTION);
      return 0;
    }
  }
  tell(listener, i, CMD_ARG_IGNORED);
  return 0;
}

}  // namespace

void setLauncherInfo(const std::string& fullPath, LauncherInfo* info) {
  info->launcherFullPath = fullPath;
  info->launcherDir = dirName(fullPath);
  info->launcherFile = baseName(fullPath);
  info->launcherName = removeSuffix(info->launcherFile);
}

int processINI(const std::string& path, IniSettings* ini,
               const IniListener* listener) {
  FILE* file = openRegularFile(path);
  int read = processINI(file, ini, listener);
  if (file) fclose(file);
  return read;
}

int processINI(FILE* file, IniSettings* ini, const IniListener* listener) {
  if (!file) return 0;
  ini->iniInstallerArgs.clear();
  ini->iniManagerArgs.clear();
  Section section = SECTION_NONE;
  IniLine line;
  int lineNumber = 0;
  while (readLine(file, &line.text)) {
    line.lineNumber = ++lineNumber;
    line.key.clear();
    line.value.clear();
    line.action = readIniLine(line.text, &section, &line.key, &line.value, ini);
    line.section = sectionHeader(section);
    if (listener) listener->onLine(line, listener->context);
  }
  return 1;
}

const std::vector<const char*>& iniSectionHeaders() {
  static const std::vector<const char*> headers = [] {
    std::vector<const char*> list;
    for (const IniHeader& header : kIniHeaders) list.push_back(header.text);
    return list;
  }();
  return headers;
}

const char* iniSectionOfKey(const std::string& key) {
  if (key == kModeKey) return sectionHeader(SECTION_MANAGER);
  if (key == kArgKey) return sectionHeader(SECTION_INSTALLER);
  for (const IniKey& known : kIniKeys) {
    if (key == known.name) return sectionHeader(known.section);
  }
  return nullptr;
}

std::vector<std::string> iniKnownKeys() {
  std::vector<std::string> keys = {kArgKey, kModeKey};
  for (const IniKey& known : kIniKeys) keys.push_back(known.name);
  return keys;
}

int parseMode(const std::string& value) {
  std::string word = trim(value);
  for (int mode = MODE_INSTALL; mode <= MODE_EXTENSION; ++mode) {
    if (word == kModeWords[mode]) return mode;
  }
  return -1;
}

const char* modeName(int mode) { return kModeWords[mode]; }

int parseCmdlineArg(int argc, char** argv, CmdSettings* cmd,
                    const CmdlineListener* listener) {
  std::vector<std::string>* collecting = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, kCollectInstaller) == 0) {
      collecting = &cmd->argInstallerArgs;
      tell(listener, i, CMD_ARG_COLLECT);
    } else if (strcmp(arg, kCollectManager) == 0) {
      collecting = &cmd->argManagerArgs;
      tell(listener, i, CMD_ARG_COLLECT);
    } else if (collecting) {
      collecting->push_back(arg);
      tell(listener, i, collecting == &cmd->argManagerArgs ? CMD_ARG_TO_AGENT
                                                           : CMD_ARG_TO_INSTALLER);
    } else if (isHelpForm(arg)) {
      tell(listener, i, CMD_ARG_HELP);
      return 0;
    } else {
      i += applyOption(argc, argv, i, cmd, listener);
    }
  }
  return 1;
}

int isVersionRequest(int argc, char** argv) {
  // Every run asks, so the common answer comes without a parse: no
  // argument is a version form at all.
  bool mentioned = false;
  for (int i = 1; i < argc && !mentioned; ++i) {
    for (const char* form : kVersionForms) mentioned = mentioned || strcmp(argv[i], form) == 0;
  }
  if (!mentioned) return 0;
  // The parser's own reading decides where an option stands: the value of
  // -input or an argument collected for the agent asks nothing.
  VersionScan scan{argv, 0};
  CmdlineListener listener{noteVersionForm, &scan};
  CmdSettings scratch;
  parseCmdlineArg(argc, argv, &scratch, &listener);
  return scan.found;
}

std::vector<std::string> launcherOptionNames() {
  std::vector<std::string> names = {kCollectInstaller, kCollectManager};
  for (const char* help : kHelpForms) names.emplace_back(help);
  for (const ValueOption& option : kValueOptions) names.emplace_back(option.name);
  for (const FlagOption& option : kFlagOptions) names.emplace_back(option.name);
  return names;
}

bool isTrueWord(const std::string& value) {
  return platformStrCaseCmp(value, "true") == 0 ||
         platformStrCaseCmp(value, "yes") == 0;
}

bool isFalseWord(const std::string& value) {
  return platformStrCaseCmp(value, "false") == 0 ||
         platformStrCaseCmp(value, "no") == 0;
}

bool isExplicitAdminRequest(const IniSettings& ini, const CmdSettings& cmd) {
  return cmd.argIsUserAdmin == 1 || isTrueWord(ini.iniIsAdmin);
}

void processCmdLineAndIni(const LauncherInfo& info, const IniSettings& ini,
                          const CmdSettings& cmd, Settings* settings) {
  settings->isWait = cmd.isWait;
  if (cmd.argIsSilent == 1 || isTrueWord(ini.iniSilent)) {
    // Nobody watches a silent run: no dialogs, and the caller gets the
    // agent's own exit status.
    settings->isSilent = 1;
    settings->isWait = 1;
    settings->isDialogAllowed = 0;
  }

  if (isExplicitAdminRequest(ini, cmd)) {
    settings->isUserAdmin = 1;
  } else if (isFalseWord(ini.iniIsAdmin)) {
    settings->isUserAdmin = 0;
  } else {
    settings->isUserAdmin = isAdmin();
  }

  settings->appDataLocation =
      !cmd.argAppDataLocation.empty() ? cmd.argAppDataLocation : ini.iniAppDataLocation;
  settings->nl = !cmd.argNL.empty() ? cmd.argNL : ini.iniNL;
  settings->isLicenseAccepted =
      cmd.argLicenseAccepted == 1 || isTrueWord(ini.iniLicenseAccepted) ? 1 : 0;

  const std::string& input =
      !cmd.argInputFile.empty() ? cmd.argInputFile : ini.iniManagerInput;
  if (input.empty()) {
    settings->inputFile.clear();
  } else if (isFileAbsolute(input)) {
    normalizePath(&settings->inputFile, input);
  } else {
    settings->inputFile = joinPath(info.launcherDir, input);
  }

  logSection("Mode");
  logValue("isSilent", settings->isSilent);
  logValue("isDialogAllowed", settings->isDialogAllowed);
  logValue("isUserAdmin", settings->isUserAdmin);
  logValue("isLicenseAccepted", settings->isLicenseAccepted);
  logValue("appDataLocation", settings->appDataLocation);
  logValue("nl", settings->nl);
  logValue("inputFile", settings->inputFile);
}
