// The launch sequence and the records it fills: the launcher's own location,
// the INI settings, the command-line settings, the effective settings, the
// probe results and the two command lines.
#ifndef LAUNCHER_INSTALL_H_
#define LAUNCHER_INSTALL_H_

#include <cstdio>
#include <string>
#include <vector>

const int kPlatformWindows = 1;
const int kPlatformLinux = 2;
const int kRestartCode = 23;
const int kUserCancelNative = 232;
const int kUserCancelMsi = 1602;

enum LaunchMode { MODE_INSTALL = 0, MODE_UNINSTALL = 1, MODE_EXTENSION = 2 };

// Identifier of the agent package in the agent's installed-packages file.
extern const char kAgentPackageId[];

struct LauncherInfo {
  std::string launcherFullPath;
  std::string launcherDir;  // ends with '/' unless empty
  std::string launcherFile;
  std::string launcherName;
};

struct IniSettings {
  std::string iniInstallerLocation;
  std::vector<std::string> iniInstallerArgs;
  std::string iniLicenseAccepted;
  std::string iniManagerLocationKey;
  std::string iniManagerLocationFile;
  std::string iniManagerVersion;
  std::string iniManagerLauncher;
  std::string iniManagerLauncherSilent;
  std::string iniManagerInput;
  std::string iniMode;
  int mode = MODE_INSTALL;
  std::vector<std::string> iniManagerArgs;
  std::string iniSilent;
  std::string iniIsAdmin;
  std::string iniAppDataLocation;
  std::string iniNL;
};

struct CmdSettings {
  std::string argInputFile;
  std::string argAppDataLocation;
  std::string argNL;
  std::string argLogFile;
  int isDebug = 0;
  int argIsSilent = 0;
  int isWait = 0;
  int argIsUserAdmin = 0;
  int argLicenseAccepted = 0;
  std::vector<std::string> argInstallerArgs;
  std::vector<std::string> argManagerArgs;
};

struct Settings {
  int isSilent = 0;
  int isWait = 0;
  int isDialogAllowed = 1;
  int isUserAdmin = 0;
  int isLicenseAccepted = 0;
  std::string appDataLocation;
  std::string nl;
  std::string inputFile;
};

struct AgentInfo {
  std::string refLocation;
  std::string refVersion;
};

struct InstallerCommand {
  std::string InstallerProgram;
  std::string msiFile;
  std::vector<std::string> installerArglist;  // slot 0 is the program
};

struct AgentCommand {
  std::string AgentProgram;
  std::vector<std::string> agentArglist;  // slot 0 is the program
};

// --- Launch sequence -------------------------------------------------------

extern int platform;
extern int inputArgc;
extern char** inputArgv;

int launcherMain(int argc, char** argv);
void backupArgList(int argc, char** argv);
bool getLauncherInfo(const char* argv0, LauncherInfo* info);
// Sufficient when a version was found and it is not older than required.
bool isAgentSufficient(const AgentInfo& agent, const IniSettings& ini);

// --- Diagnostic log --------------------------------------------------------

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
void printInputInfo(const LauncherInfo& info, const IniSettings& ini,
                    const CmdSettings& cmd);

// --- Settings --------------------------------------------------------------

// Reads the launcher INI file. 1 when read, 0 when it cannot be opened (after
// the message has been shown).
int processINI(const std::string& path, IniSettings* ini);
// Parses the launcher's own arguments; ends the process with 0 after the
// usage message when a help form is given. Returns 1.
int parseCmdlineArg(int argc, char** argv, const LauncherInfo& info,
                    CmdSettings* cmd);
void Usage(const LauncherInfo& info);
// True for "true" and "yes", whole and untrimmed, ignoring case.
bool isTrueWord(const std::string& value);
bool isFalseWord(const std::string& value);
// "-isAdmin" or ISADMIN true: the request that admin arguments be passed on.
bool isExplicitAdminRequest(const IniSettings& ini, const CmdSettings& cmd);
void processCmdLineAndIni(const LauncherInfo& info, const IniSettings& ini,
                          const CmdSettings& cmd, Settings* settings);

// --- Installed-agent probe -------------------------------------------------

void getInstalledAgentInfo(const LauncherInfo& info, const IniSettings& ini,
                           const Settings& settings, AgentInfo* agent);
// Expands the first placeholder of a reference-file path. Returns 0, or -1
// when the path cannot be formed (no home directory for a per-user
// placeholder).
int parseSystemValue(std::string* dst, const std::string& src,
                     const LauncherInfo& info, int isUserAdmin);
// Installed agent version under `location`; empty when none.
std::string getInstalledQRVersion(const std::string& location);
// Data-directory value of the agent configuration file. Returns 0.
int getAppDataDir(const std::string& configFile, std::string* dst);
// Agent version from the installed-packages file. Returns 0.
int getQRVersion(const std::string& xmlFile, std::string* dst);
int compareQRVersion(const std::string& lhs, const std::string& rhs);

// --- Command lines ---------------------------------------------------------

bool isMSIFile(const std::string& path);
int createAgtInstallerArgList_linux(const LauncherInfo& info,
                                    const IniSettings& ini,
                                    const CmdSettings& cmd,
                                    const Settings& settings,
                                    InstallerCommand* installer);
int createAgtInstallerArgList_MSI(const LauncherInfo& info,
                                  const IniSettings& ini,
                                  const CmdSettings& cmd,
                                  const Settings& settings,
                                  InstallerCommand* installer);
int createAgentArgList(const IniSettings& ini, const CmdSettings& cmd,
                       const Settings& settings, const AgentInfo& agent,
                       AgentCommand* command);
bool isJavaCommand(const std::string& path);

#endif  // LAUNCHER_INSTALL_H_
