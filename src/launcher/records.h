// The records that the launch steps fill and read, each filled once by the
// step that owns it: the launcher's own location, the INI settings, the
// command-line settings, the effective settings, the probe results and the
// two command lines. Every other unit builds on these.
#ifndef LAUNCHER_RECORDS_H_
#define LAUNCHER_RECORDS_H_

#include <string>
#include <vector>

const int kPlatformWindows = 1;
const int kPlatformLinux = 2;
const int kRestartCode = 23;
const int kUserCancelNative = 232;
const int kUserCancelMsi = 1602;

enum LaunchMode { MODE_INSTALL = 0, MODE_UNINSTALL = 1, MODE_EXTENSION = 2 };

// Identifier of the agent package in the agent's installed-packages file.
inline constexpr char kAgentPackageId[] = "com.telvane.quorvin.agent";

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
  // NAME=value entries the installer finds in its environment beside the
  // launcher's own: what it needs to know to install where the launcher
  // will look afterwards.
  std::vector<std::string> installerEnv;
};

struct AgentCommand {
  std::string AgentProgram;
  std::vector<std::string> agentArglist;  // slot 0 is the program
};

#endif  // LAUNCHER_RECORDS_H_
