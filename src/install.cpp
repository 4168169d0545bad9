#include "install.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "stringtable.h"
#include "uiGTK.h"
#include "utilities.h"
#include "utilitiesLinux.h"

const char kAgentPackageId[] = "com.telvane.quorvin.agent";

int platform = 0;
int inputArgc = 0;
char** inputArgv = nullptr;
FILE* logFile = nullptr;

namespace {

const char kRule[] = "======================================================\n";

// --- Small helpers ---------------------------------------------------------

// printf into a string of whatever length the result needs. The catalogue's
// formats hold exactly one conversion, filled here with the caller's value.
std::string formatText(const char* format, ...) {
  va_list args, copy;
  va_start(args, format);
  va_copy(copy, args);
  int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (length > 0) {
    result.resize(static_cast<size_t>(length) + 1);
    vsnprintf(result.data(), result.size(), format, args);
    result.resize(static_cast<size_t>(length));
  }
  va_end(args);
  return result;
}

// Extra arguments reach the child without a shell; a blank would split
// nothing, but the programs on the other side expect such values quoted.
void appendExtraArgs(const std::vector<std::string>& cmdList,
                     const std::vector<std::string>& iniList,
                     std::vector<std::string>* slots) {
  const std::vector<std::string>& list = cmdList.empty() ? iniList : cmdList;
  for (const std::string& arg : list) {
    slots->push_back(arg.find(' ') != std::string::npos ? "\"" + arg + "\"" : arg);
  }
}

std::string joinPath(const std::string& dir, const std::string& name) {
  std::string path;
  normalizePath(&path, dir + "/" + name);
  return path;
}

// Every error the user sees: one modal dialog (unless silent), titled
// "Error", with the catalogue text of `key` filled with one value (a C
// string or an int, as the text's one conversion expects).
template <typename Value>
void reportError(const Settings& settings, int key, Value value) {
  if (settings.isDialogAllowed != 1) return;
  std::string title, format;
  getString(MSG_ERROR_TITLE, &title);
  getString(key, &format);
  std::string message = formatText(format.c_str(), value);
  displayMessage(message.c_str(), title.c_str(), MSG_KIND_ERROR, inputArgc,
                 inputArgv);
}

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

void applyIniKey(Section section, const std::string& key,
                 const std::string& value, IniSettings* ini) {
  if (key == "ARG") {
    if (section == SECTION_INSTALLER) ini->iniInstallerArgs.push_back(value);
    if (section == SECTION_MANAGER) ini->iniManagerArgs.push_back(value);
    return;
  }
  if (section == SECTION_MANAGER && key == "MODE") {
    ini->iniMode = value;
    std::string word = trim(value);
    for (int mode = MODE_INSTALL; mode <= MODE_EXTENSION; ++mode) {
      if (word == kModeWords[mode]) ini->mode = mode;
    }
    return;
  }
  for (const IniKey& known : kIniKeys) {
    if (known.section == section && key == known.name) {
      ini->*known.field = value;
      return;
    }
  }
}

// --- Command line ----------------------------------------------------------

const char* const kHelpForms[] = {"-help", "-?", "/help", "/?"};
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

// Applies one argument in the normal state; returns how many arguments it
// consumed beyond itself.
int applyOption(int argc, char** argv, int i, const LauncherInfo& info,
                CmdSettings* cmd) {
  const char* arg = argv[i];
  for (const char* help : kHelpForms) {
    if (strcmp(arg, help) == 0) {
      Usage(info);
      exit(0);
    }
  }
  for (const ValueOption& option : kValueOptions) {
    if (strcmp(arg, option.name) != 0) continue;
    // A value option in the last place has no value and no effect.
    if (i + 1 >= argc) return 0;
    cmd->*option.field = argv[i + 1];
    if (option.field == &CmdSettings::argLogFile) cmd->isDebug = 1;
    return 1;
  }
  for (const FlagOption& option : kFlagOptions) {
    if (strcmp(arg, option.name) == 0) cmd->*option.field = 1;
  }
  return 0;
}

// --- Probe -----------------------------------------------------------------

const char kLocationKey[] = "location";
const char kDataLocationLine[] = "zel.appDataLocation";

struct Placeholder {
  const char* text;
  int (*directory)(std::string* dst, const LauncherInfo& info, int isUserAdmin);
};

int documentDir(std::string* dst, const LauncherInfo&, int) {
  return getMyDocumentDir(dst);
}
int homeDir(std::string* dst, const LauncherInfo&, int) { return getHomeDir(dst); }
int profileDir(std::string* dst, const LauncherInfo&, int) {
  return getProfileDir(dst);
}
int launcherDirectory(std::string* dst, const LauncherInfo& info, int) {
  *dst = info.launcherDir;
  return 0;
}
int appDataDir(std::string* dst, const LauncherInfo&, int isUserAdmin) {
  return getAppDataDir(dst, isUserAdmin);
}

const Placeholder kPlaceholders[] = {
    {"<My Documents>", documentDir}, {"<HOME>", homeDir},
    {"<PROFILE>", profileDir},       {"<CURRDIR>", launcherDirectory},
    {"<APPDATA>", appDataDir},
};

void logAgentInfo(const char* title, const AgentInfo& agent,
                  const IniSettings& ini) {
  logSection(title);
  logValue("refVersion", agent.refVersion);
  logValue("refLocation", agent.refLocation);
  logSection("Expected Agent Info");
  logValue("refVersion", agent.refVersion);
  logValue("iniManagerVersion", ini.iniManagerVersion);
}

// --- Launch steps ----------------------------------------------------------

// Nothing can be installed: the launch mode picks the lines and the message.
struct ModeReport {
  const char* modeLine;
  const char* notDetectedLine;
  int key;
};

const ModeReport kModeReports[] = {
    {"Running in INSTALL Mode.  \n",
     "Agent is not detected on the system. Install cannot continue \n",
     MSG_AGENT_NOT_FOUND},
    {"Running in UNINSTALL Mode.  \n",
     "Agent is not detected on the system. Uninstall cannot continue \n",
     MSG_AGENT_NOT_FOUND},
    {"Running in EXTENSION Mode.  \n",
     "Agent is not detected on the system. Install cannot continue. \n",
     MSG_AGENT_NOT_FOUND_EXT},
};

int reportNoInstaller(const IniSettings& ini, const Settings& settings) {
  const ModeReport& report = kModeReports[ini.mode];
  logLine(report.modeLine);
  logLine(report.notDetectedLine);
  reportError(settings, report.key, ini.iniManagerVersion.c_str());
  return 1;
}

// Composes the installer's command line; false (after the report) when the
// installer file is missing.
bool composeInstaller(const LauncherInfo& info, const IniSettings& ini,
                      const CmdSettings& cmd, const Settings& settings,
                      InstallerCommand* installer) {
  if (isMSIFile(ini.iniInstallerLocation)) {
    createAgtInstallerArgList_MSI(info, ini, cmd, settings, installer);
    if (!isFileExist(installer->msiFile)) {
      logFormat("MSI installer image is not found: %s\n", installer->msiFile);
      reportError(settings, MSG_INSTALLER_NOT_FOUND, installer->msiFile.c_str());
      return false;
    }
    return true;
  }
  createAgtInstallerArgList_linux(info, ini, cmd, settings, installer);
  if (!isFileExist(installer->InstallerProgram)) {
    logFormat("Installer does not exist: %s\n", installer->InstallerProgram);
    reportError(settings, MSG_INSTALLER_NOT_FOUND, installer->InstallerProgram.c_str());
    return false;
  }
  return true;
}

int runInstaller(const Settings& settings, const InstallerCommand& installer) {
  int rc = settings.nl.empty()
               ? runProgram(installer.InstallerProgram, installer.installerArglist)
               : runProgram(installer.InstallerProgram,
                            installer.installerArglist, settings.nl);
  logSection("Return code of agent installer");
  logValue("rc", rc);
  logValue("InstallerProgram", installer.InstallerProgram);
  return rc;
}

bool isUserCancel(int rc, const IniSettings& ini) {
  return (rc == kUserCancelMsi && platform == kPlatformWindows) ||
         (rc == kUserCancelNative && !isMSIFile(ini.iniInstallerLocation));
}

// Installs the agent when it is missing or too old. Returns true when the
// sequence may go on to start the agent; otherwise *status is the end.
bool installAgent(const LauncherInfo& info, const IniSettings& ini,
                  const CmdSettings& cmd, const Settings& settings,
                  AgentInfo* agent, int* status) {
  logLine("Agent is not installed.  Prepare to install.\n");
  if (ini.iniInstallerLocation.empty()) {
    *status = reportNoInstaller(ini, settings);
    return false;
  }
  InstallerCommand installer;
  if (!composeInstaller(info, ini, cmd, settings, &installer)) {
    *status = 1;
    return false;
  }
  int rc = runInstaller(settings, installer);
  if (rc != 0) {
    if (isUserCancel(rc, ini)) {
      logLine("Install Cancelled by user \n");
    } else {
      logLine("Error installing agent\n");
      reportError(settings, MSG_INSTALL_FAILED, rc);
    }
    *status = rc;
    return false;
  }
  getInstalledAgentInfo(info, ini, settings, agent);
  logAgentInfo("Installed Agent Info (after install agent) ", *agent, ini);
  if (!isAgentSufficient(*agent, ini)) {
    logLine("Correct agent cannot be found \n");
    reportError(settings, MSG_AGENT_NOT_FOUND, ini.iniManagerVersion.c_str());
    *status = 1;
    return false;
  }
  return true;
}

// Starts the agent in place of the launcher, or as a child that is started
// again while it asks for it with the restart code.
int startAgent(const Settings& settings, const AgentCommand& agent) {
  int rc;
  if (settings.isWait) {
    rc = runProgram(agent.AgentProgram, agent.agentArglist);
  } else {
    rc = replaceProgram(agent.AgentProgram, agent.agentArglist);
  }
  while (rc == kRestartCode) rc = runProgram(agent.AgentProgram, agent.agentArglist);
  return rc;
}

}  // namespace

// --- Diagnostic log --------------------------------------------------------

void openLog(const std::string& path) {
  // Close-on-exec: neither the installer nor the agent inherits the log.
  logFile = fopen(path.c_str(), "we");
}

void closeLog() {
  if (!logFile) return;
  fclose(logFile);
  logFile = nullptr;
}

void logSection(const char* title) {
  if (logFile) fprintf(logFile, "\n%s\n%s", title, kRule);
}

void logValue(const char* name, const std::string& value) {
  if (logFile) fprintf(logFile, "%s: (%s)\n", name, value.c_str());
}

void logValue(const char* name, int value) {
  if (logFile) fprintf(logFile, "%s: (%d)\n", name, value);
}

void logList(const char* name, const std::vector<std::string>& list) {
  if (!logFile) return;
  for (size_t i = 0; i < list.size(); ++i) {
    fprintf(logFile, "%s[%zu]: (%s)\n", name, i, list[i].c_str());
  }
}

void logLine(const char* text) {
  if (logFile) fputs(text, logFile);
}

void logFormat(const char* format, const std::string& value) {
  if (logFile) fputs(formatText(format, value.c_str()).c_str(), logFile);
}

void printInputInfo(const LauncherInfo& info, const IniSettings& ini,
                    const CmdSettings& cmd) {
  if (!logFile) return;
  logSection("Launcher info");
  logValue("launcherFullPath", info.launcherFullPath);
  logValue("launcherDir", info.launcherDir);
  logValue("launcherFile", info.launcherFile);
  logValue("launcherName", info.launcherName);

  logSection("INI File info");
  logValue("iniInstallerLocation", ini.iniInstallerLocation);
  logValue("iniManagerLocationKey", ini.iniManagerLocationKey);
  logValue("iniManagerLocationFile", ini.iniManagerLocationFile);
  logValue("iniManagerVersion", ini.iniManagerVersion);
  logValue("iniManagerLauncher", ini.iniManagerLauncher);
  logValue("iniManagerLauncherSilent", ini.iniManagerLauncherSilent);
  logValue("iniManagerInput", ini.iniManagerInput);
  logValue("iniMode", ini.iniMode);
  logValue("iniSilent", ini.iniSilent);
  logValue("iniIsAdmin", ini.iniIsAdmin);
  logValue("iniAppDataLocation", ini.iniAppDataLocation);
  logValue("iniNL", ini.iniNL);
  logValue("iniLicenseAccepted", ini.iniLicenseAccepted);
  logList("iniInstallerArgs", ini.iniInstallerArgs);
  logList("iniManagerArgs", ini.iniManagerArgs);

  logSection("Commandline Arguments");
  logValue("argInputFile", cmd.argInputFile);
  logValue("argLogFile", cmd.argLogFile);
  logValue("argIsSilent", cmd.argIsSilent);
  logValue("argIsUserAdmin", cmd.argIsUserAdmin);
  logValue("isDebug", cmd.isDebug);
  logValue("isWait", cmd.isWait);
  logValue("argAppDataLocation", cmd.argAppDataLocation);
  logValue("argNL", cmd.argNL);
  logValue("argLicenseAccepted", cmd.argLicenseAccepted);
  logList("argInstallerArgs", cmd.argInstallerArgs);
  logList("argManagerArgs", cmd.argManagerArgs);
}

// --- Launch sequence -------------------------------------------------------

void backupArgList(int argc, char** argv) {
  inputArgc = argc;
  inputArgv = static_cast<char**>(calloc(static_cast<size_t>(argc) + 1, sizeof(char*)));
  if (!inputArgv) return;
  for (int i = 0; i < argc; ++i) inputArgv[i] = strdup(argv[i]);
}

bool getLauncherInfo(const char* argv0, LauncherInfo* info) {
  info->launcherFullPath = findCommand(argv0);
  if (info->launcherFullPath.empty()) {
    info->launcherFullPath = findCommand(std::string(argv0) + ".exe");
  }
  info->launcherDir = dirName(info->launcherFullPath);
  info->launcherFile = baseName(info->launcherFullPath);
  info->launcherName = removeSuffix(info->launcherFile);
  return true;
}

bool isAgentSufficient(const AgentInfo& agent, const IniSettings& ini) {
  return !agent.refVersion.empty() &&
         compareQRVersion(agent.refVersion, ini.iniManagerVersion) >= 0;
}

int launcherMain(int argc, char** argv) {
  // The process locale matters only for a message: the catalogue sets it
  // from the environment when it chooses the language, so a run that shows
  // nothing does not pay for loading the locale (nearly half its start-up).
  platform = kPlatformLinux;
  backupArgList(argc, argv);

  LauncherInfo info;
  if (!getLauncherInfo(argc > 0 && argv[0] ? argv[0] : "", &info)) return 1;

  IniSettings ini;
  if (!processINI(info.launcherDir + info.launcherName + ".ini", &ini)) return 1;

  CmdSettings cmd;
  if (!parseCmdlineArg(argc, argv, info, &cmd)) return 1;

  if (cmd.isDebug == 1) {
    openLog(cmd.argLogFile);
    printInputInfo(info, ini, cmd);
  }

  Settings settings;
  processCmdLineAndIni(info, ini, cmd, &settings);

  AgentInfo agent;
  getInstalledAgentInfo(info, ini, settings, &agent);
  logAgentInfo("Installed Agent Info", agent, ini);

  if (!isAgentSufficient(agent, ini)) {
    int status;
    if (!installAgent(info, ini, cmd, settings, &agent, &status)) return status;
  }

  AgentCommand command;
  createAgentArgList(ini, cmd, settings, agent, &command);
  if (!isFileExist(command.AgentProgram)) {
    logFormat("Agent program cannot be found: %s \n", command.AgentProgram);
    reportError(settings, MSG_AGENT_NOT_FOUND, ini.iniManagerVersion.c_str());
    return 1;
  }

  logValue("isWait", settings.isWait);
  closeLog();
  return startAgent(settings, command);
}

// --- Settings --------------------------------------------------------------

int processINI(const std::string& path, IniSettings* ini) {
  FILE* file = openRegularFile(path);
  if (!file) {
    // Silent mode is not known yet: this message is always shown.
    std::string format;
    getString(MSG_INI_NOT_OPEN, &format);
    std::string message = formatText(format.c_str(), path.c_str());
    displayMessage(message.c_str(), "", MSG_KIND_ERROR, inputArgc, inputArgv);
    return 0;
  }
  ini->iniInstallerArgs.clear();
  ini->iniManagerArgs.clear();
  Section section = SECTION_NONE;
  std::string piece, key, value;
  while (readPiece(file, &piece)) {
    if (piece[0] == ';') continue;
    std::string trimmed = trim(piece);
    bool isHeader = false;
    for (const IniHeader& header : kIniHeaders) {
      if (trimmed == header.text) {
        section = header.section;
        isHeader = true;
      }
    }
    if (isHeader) continue;
    if (piece[0] == '[') {
      section = SECTION_NONE;
      continue;
    }
    if (section == SECTION_NONE) continue;
    if (parseKey(piece, &key, &value) != 0) continue;
    applyIniKey(section, key, value, ini);
  }
  fclose(file);
  return 1;
}

int parseCmdlineArg(int argc, char** argv, const LauncherInfo& info,
                    CmdSettings* cmd) {
  std::vector<std::string>* collecting = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, kCollectInstaller) == 0) {
      collecting = &cmd->argInstallerArgs;
    } else if (strcmp(arg, kCollectManager) == 0) {
      collecting = &cmd->argManagerArgs;
    } else if (collecting) {
      collecting->push_back(arg);
    } else {
      i += applyOption(argc, argv, i, info, cmd);
    }
  }
  return 1;
}

void Usage(const LauncherInfo& info) {
  std::string title, format;
  getString(MSG_USAGE_TITLE, &title);
  getString(MSG_USAGE, &format);
  std::string message = formatText(format.c_str(), info.launcherName.c_str());
  displayMessage(message.c_str(), title.c_str(), MSG_KIND_INFO, inputArgc,
                 inputArgv);
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

// --- Installed-agent probe -------------------------------------------------

void getInstalledAgentInfo(const LauncherInfo& info, const IniSettings& ini,
                           const Settings& settings, AgentInfo* agent) {
  logSection("Get Installed Agent Info");
  logValue("iniManagerLocationKey", ini.iniManagerLocationKey);
  logValue("iniManagerLocationFile", ini.iniManagerLocationFile);
  logValue("isAdmin()", isAdmin());
  logValue("isUserAdmin", settings.isUserAdmin);

  if (!ini.iniManagerLocationKey.empty()) {
    int keyType = settings.isUserAdmin ? KEY_TYPE_MACHINE : KEY_TYPE_USER;
    getRegValue(ini.iniManagerLocationKey, keyType, kLocationKey,
                &agent->refLocation);
    logLine("Get current agent location from Registry: \n");
    logValue("iniManagerLocationKey", ini.iniManagerLocationKey);
  } else if (!ini.iniManagerLocationFile.empty()) {
    std::string referenceFile;
    if (parseSystemValue(&referenceFile, ini.iniManagerLocationFile, info,
                         settings.isUserAdmin) == 0) {
      getProperty(referenceFile, kLocationKey, &agent->refLocation);
    }
    logLine("Get current agent location from Reference File: \n");
    logValue("refFile", referenceFile);
  }
  agent->refVersion = getInstalledQRVersion(agent->refLocation);
}

int parseSystemValue(std::string* dst, const std::string& src,
                     const LauncherInfo& info, int isUserAdmin) {
  for (const Placeholder& placeholder : kPlaceholders) {
    if (src.find(placeholder.text) == std::string::npos) continue;
    std::string directory;
    if (placeholder.directory(&directory, info, isUserAdmin) != 0) {
      // Without a home directory a per-user path cannot be formed; reading
      // "/a/..." instead would look in the wrong place.
      dst->clear();
      return -1;
    }
    *dst = replace(src, placeholder.text, directory);
    return 0;
  }
  *dst = src;
  return 0;
}

std::string getInstalledQRVersion(const std::string& location) {
  logLine("Get Installed QR Version: \n");
  logValue("qrLocatoin", location);
  if (location.empty()) return std::string();

  std::string base = location;
  removeTrailSlash(&base);
  std::string configFile = base + "/eclipse/configuration/config.ini";
  logValue("configFile", configFile);

  std::string raw;
  getAppDataDir(configFile, &raw);
  if (raw.empty()) return std::string();
  std::string dataDir = removeDoubleSlash(removeDriveLetterSlash(raw));
  removeTrailSlash(&dataDir);
  logValue("appDataDir", dataDir);
  if (dataDir.empty()) return std::string();

  std::string xmlFile = dataDir + "/installed.xml";
  logValue("installedXMLFile", xmlFile);
  std::string version;
  getQRVersion(xmlFile, &version);
  logValue("currVersion", version);
  return version;
}

int getAppDataDir(const std::string& configFile, std::string* dst) {
  FILE* file = openRegularFile(configFile);
  if (!file) return 0;
  dst->clear();
  std::string piece;
  while (readPiece(file, &piece)) {
    if (piece[0] == '#') continue;
    if (piece.compare(0, strlen(kDataLocationLine), kDataLocationLine) != 0) continue;
    size_t equals = piece.find('=');
    if (equals == std::string::npos) break;
    dst->assign(piece, equals + 1, std::string::npos);
  }
  fclose(file);
  return 0;
}

int getQRVersion(const std::string& xmlFile, std::string* dst) {
  FILE* file = openRegularFile(xmlFile);
  if (!file) return 0;
  dst->clear();
  const std::string idAttribute = std::string("id='") + kAgentPackageId + "'";
  const std::string versionAttribute = "version='";
  std::string piece;
  while (readPiece(file, &piece)) {
    if (piece.find(idAttribute) == std::string::npos ||
        piece.find("<package") == std::string::npos) {
      continue;
    }
    size_t start = piece.find(versionAttribute);
    if (start == std::string::npos) continue;
    start += versionAttribute.size();
    size_t end = piece.find('\'', start);
    if (end == std::string::npos) continue;
    dst->assign(piece, start, end - start);
    break;
  }
  fclose(file);
  return 0;
}

int compareQRVersion(const std::string& lhs, const std::string& rhs) {
  int l[3], r[3];
  std::string lq, rq;
  parseVersion(lhs, &l[0], &l[1], &l[2], &lq);
  parseVersion(rhs, &r[0], &r[1], &r[2], &rq);
  if (l[0] != r[0] || l[1] != r[1] || l[2] != r[2]) return compareVersion(lhs, rhs);
  if (lq == rq) return 0;
  // A beta is older than any release of the same number.
  if (lq == "beta") return -1;
  if (rq == "beta") return 1;
  return compareVersion(lhs, rhs);
}

// --- Command lines ---------------------------------------------------------

bool isMSIFile(const std::string& path) {
  static const char kSuffix[] = ".msi";
  const size_t suffixLength = sizeof kSuffix - 1;
  return path.size() > suffixLength &&
         path.compare(path.size() - suffixLength, suffixLength, kSuffix) == 0;
}

int createAgtInstallerArgList_linux(const LauncherInfo& info,
                                    const IniSettings& ini,
                                    const CmdSettings& cmd,
                                    const Settings& settings,
                                    InstallerCommand* installer) {
  installer->InstallerProgram = joinPath(info.launcherDir, ini.iniInstallerLocation);
  std::vector<std::string>& slots = installer->installerArglist;
  slots.assign(1, installer->InstallerProgram);
  if (settings.isSilent) slots.push_back("-silent");
  if (isExplicitAdminRequest(ini, cmd)) {
    slots.push_back("-W");
    slots.push_back("adminCheck.active=false");
  }
  if (!settings.appDataLocation.empty()) {
    slots.push_back("-V");
    slots.push_back("APPDATALOCATION=\"" + settings.appDataLocation + "\"");
  }
  if (settings.isLicenseAccepted == 1) {
    slots.push_back("-V");
    slots.push_back("licenseAccepted=true");
  }
  appendExtraArgs(cmd.argInstallerArgs, ini.iniInstallerArgs, &slots);
  slots.push_back("-V");
  slots.push_back("STANDALONE=false");

  logSection("Command to launch agent install");
  logList("installerArglist", slots);
  return 1;
}

int createAgtInstallerArgList_MSI(const LauncherInfo& info,
                                  const IniSettings& ini,
                                  const CmdSettings& cmd,
                                  const Settings& settings,
                                  InstallerCommand* installer) {
  installer->InstallerProgram = findCommand("msiexec.exe");
  installer->msiFile = joinPath(info.launcherDir, ini.iniInstallerLocation);
  std::vector<std::string>& slots = installer->installerArglist;
  slots.assign(1, installer->InstallerProgram);
  slots.push_back("/i");
  slots.push_back(installer->msiFile);
  if (settings.isSilent) slots.push_back("/q");
  appendExtraArgs(cmd.argInstallerArgs, ini.iniInstallerArgs, &slots);
  slots.push_back("STANDALONE=false");
  if (!settings.appDataLocation.empty()) {
    slots.push_back("APPDATALOCATION=\"" + settings.appDataLocation + "\"");
  }

  logSection("Command to launch agent install");
  logList("installerArglist", slots);
  return 1;
}

int createAgentArgList(const IniSettings& ini, const CmdSettings& cmd,
                       const Settings& settings, const AgentInfo& agent,
                       AgentCommand* command) {
  const std::string& name =
      settings.isSilent && !ini.iniManagerLauncherSilent.empty()
          ? ini.iniManagerLauncherSilent
          : ini.iniManagerLauncher;
  command->AgentProgram = joinPath(agent.refLocation, name);
  std::vector<std::string>& slots = command->agentArglist;
  slots.assign(1, command->AgentProgram);
  if (isJavaCommand(command->AgentProgram)) {
    slots.push_back("-jar");
    slots.push_back(addQuotation(joinPath(agent.refLocation, "eclipse/startup.jar")));
  }
  if (settings.isSilent) {
    slots.push_back("-silent");
    slots.push_back("-nosplash");
  }
  if (isExplicitAdminRequest(ini, cmd)) slots.push_back("-isAdmin");
  if (!settings.inputFile.empty()) {
    slots.push_back("-input");
    slots.push_back(settings.inputFile);
  }
  if (!settings.appDataLocation.empty()) {
    slots.push_back("-dataLocation");
    slots.push_back(settings.appDataLocation);
  }
  if (!settings.nl.empty()) {
    slots.push_back("-nl");
    slots.push_back(settings.nl);
  }
  appendExtraArgs(cmd.argManagerArgs, ini.iniManagerArgs, &slots);

  logSection("Command to launch agent");
  logValue("AgentProgram", command->AgentProgram);
  logList("agentArglist", slots);
  return 1;
}

bool isJavaCommand(const std::string& path) {
  static const char* const kSuffixes[] = {"java", "javaw", "java.exe", "javaw.exe"};
  for (const char* suffix : kSuffixes) {
    size_t length = strlen(suffix);
    if (path.size() >= length &&
        path.compare(path.size() - length, length, suffix) == 0) {
      return true;
    }
  }
  return false;
}
