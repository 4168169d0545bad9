#include "install.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files.h"
#include "installLock.h"
#include "stringtable.h"
#include "trust.h"
#include "uiGTK.h"
#include "utilities.h"
#include "utilitiesLinux.h"

int platform = 0;
int inputArgc = 0;
char** inputArgv = nullptr;

namespace {

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

// Silent mode is not known yet when the INI file is missing: this message
// is always shown, and it has no title.
void reportIniNotOpen(const std::string& path) {
  std::string format;
  getString(MSG_INI_NOT_OPEN, &format);
  std::string message = formatText(format.c_str(), path.c_str());
  displayMessage(message.c_str(), "", MSG_KIND_ERROR, inputArgc, inputArgv);
}

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
  createAgtInstallerArgList(info, ini, cmd, settings, installer);
  if (isMSIFile(ini.iniInstallerLocation)) {
    if (!isFileExist(installer->msiFile)) {
      logFormat("MSI installer image is not found: %s\n", installer->msiFile);
      reportError(settings, MSG_INSTALLER_NOT_FOUND, installer->msiFile.c_str());
      return false;
    }
    return true;
  }
  if (!isFileExist(installer->InstallerProgram)) {
    logFormat("Installer does not exist: %s\n", installer->InstallerProgram);
    reportError(settings, MSG_INSTALLER_NOT_FOUND, installer->InstallerProgram.c_str());
    return false;
  }
  return true;
}

int runInstaller(const Settings& settings, const InstallerCommand& installer) {
  int execErrno = 0;
  flushLog();
  int rc = runProgram(installer.InstallerProgram, installer.installerArglist,
                      childEnvironment(settings.nl, installer.installerEnv),
                      &execErrno);
  logStartFailure(installer.InstallerProgram, execErrno);
  logSection("Return code of agent installer");
  logValue("rc", rc);
  logValue("InstallerProgram", installer.InstallerProgram);
  return rc;
}

const char kLockWaitingLine[] = "Waiting for another run that is installing the agent: pid %s\n";
const char kLockWaitedLine[] = "Waited for the other run: %s seconds\n";
const char kLockGaveUpLine[] = "Stopped waiting for the other run after %s seconds\n";
const char kLockFailedLine[] = "Cannot take the install lock: %s\n";

void logLockWait(long holderPid) {
  logFormat(kLockWaitingLine, holderPid > 0 ? std::to_string(holderPid) : "unknown");
  // Someone reading the log meanwhile learns why nothing happens.
  flushLog();
}

std::string secondsText(long long milliseconds) {
  return std::to_string(milliseconds / 1000) + "." + std::to_string(milliseconds / 100 % 10);
}

// Only one run at a time goes from the probe through the installer to the
// probe after it: runs started together would otherwise install side by
// side and read each other's half-written files. Returns true when the
// agent is there now, installed by the run that held the lock.
bool lockAndProbeAgain(const LauncherInfo& info, const IniSettings& ini,
                       const Settings& settings, InstallLock* lock,
                       AgentInfo* agent) {
  std::string record;
  // No record, nothing to share with another run: the agent cannot be found
  // after any install.
  if (getLocationFilePath(info, ini, settings.isUserAdmin, &record) != 0) return false;
  // A relative HOME: the same record for every run in the same directory.
  if (!isFileAbsolute(record)) {
    std::string cwd = currentDirectory();
    if (!cwd.empty()) record = joinPath(cwd, record);
  }
  takeInstallLock(record, kInstallLockLimitSeconds, logLockWait, lock);
  if (lock->state == INSTALL_LOCK_FAILED) {
    logFormat(kLockFailedLine, lock->why);
    return false;
  }
  if (lock->state == INSTALL_LOCK_TIMED_OUT) {
    logFormat(kLockGaveUpLine, secondsText(lock->waitedMilliseconds));
  } else if (lock->waited) {
    logFormat(kLockWaitedLine, secondsText(lock->waitedMilliseconds));
  }
  // Another run may have installed between the first probe and the lock;
  // unless this run waited, the answer is logged only when it changed.
  FILE* muted = lock->waited ? nullptr : muteLog();
  getInstalledAgentInfo(info, ini, settings, agent);
  if (!lock->waited) unmuteLog(muted);
  bool sufficient = isAgentSufficient(*agent, ini);
  if (lock->waited || sufficient) {
    logAgentInfo("Installed Agent Info (after waiting) ", *agent, ini);
  }
  return sufficient;
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
  // Held until the agent has been probed after the install; released before
  // it starts.
  InstallLock lock;
  if (lockAndProbeAgain(info, ini, settings, &lock, agent)) return true;
  InstallerCommand installer;
  if (!composeInstaller(info, ini, cmd, settings, &installer)) {
    *status = 1;
    return false;
  }
  int rc = runInstaller(settings, installer);
  // The caller asked the launcher to stop: the installer's own status, and
  // nothing more, not even a message.
  if (wasSignalPassedOn()) {
    *status = rc;
    return false;
  }
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
  int rc, execErrno = 0;
  flushLog();
  if (settings.isWait) {
    rc = runProgram(agent.AgentProgram, agent.agentArglist, &execErrno);
  } else {
    rc = replaceProgram(agent.AgentProgram, agent.agentArglist, &execErrno);
  }
  logStartFailure(agent.AgentProgram, execErrno);
  while (rc == kRestartCode && !wasSignalPassedOn()) {
    rc = runProgram(agent.AgentProgram, agent.agentArglist, &execErrno);
    logStartFailure(agent.AgentProgram, execErrno);
  }
  return rc;
}

}  // namespace

void Usage(const LauncherInfo& info) {
  std::string title, format;
  getString(MSG_USAGE_TITLE, &title);
  getString(MSG_USAGE, &format);
  std::string message = formatText(format.c_str(), info.launcherName.c_str());
  displayMessage(message.c_str(), title.c_str(), MSG_KIND_INFO, inputArgc,
                 inputArgv);
}

void backupArgList(int argc, char** argv) {
  inputArgc = argc;
  inputArgv = static_cast<char**>(malloc((static_cast<size_t>(argc) + 1) * sizeof(char*)));
  if (!inputArgv) return;
  for (int i = 0; i < argc; ++i) inputArgv[i] = strdup(argv[i]);
  inputArgv[argc] = nullptr;
}

bool getLauncherInfo(const char* argv0, LauncherInfo* info) {
  // argv[0] is the caller's word: it may spell the launcher's directory
  // (relative, through PATH), never choose another one.
  std::string fullPath;
  setPackageDirectory(locateLauncher(argv0, &fullPath));
  setLauncherInfo(fullPath, info);
  return true;
}

namespace {

// The steps after start-up, in their order; each way of ending returns its
// status.
int launchSequence(int argc, char** argv) {
  platform = kPlatformLinux;
  backupArgList(argc, argv);

  LauncherInfo info;
  if (!getLauncherInfo(argc > 0 && argv[0] ? argv[0] : "", &info)) return 1;

  IniSettings ini;
  std::string iniPath = info.launcherDir + info.launcherName + ".ini";
  FILE* iniFile = packageDirectory() >= 0
                      ? openRegularFileAt(packageDirectory(), info.launcherName + ".ini")
                      : openRegularFile(iniPath);
  int iniRead = processINI(iniFile, &ini);
  if (iniFile) fclose(iniFile);
  if (!iniRead) {
    reportIniNotOpen(iniPath);
    return 1;
  }

  CmdSettings cmd;
  if (!parseCmdlineArg(argc, argv, &cmd)) {
    Usage(info);
    return 0;
  }

  if (cmd.isDebug == 1) {
    openLog(cmd.argLogFile, info.launcherFile.empty() ? "launcher" : info.launcherFile);
    printInputInfo(info, ini, cmd);
    logRefusedHome();
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
  if (!isAgentProgramUsable(command.AgentProgram)) {
    logFormat("Agent program cannot be found: %s \n", command.AgentProgram);
    reportError(settings, MSG_AGENT_NOT_FOUND, ini.iniManagerVersion.c_str());
    return 1;
  }

  logValue("isWait", settings.isWait);
  // The log stays open until the agent has started, so a start that fails
  // is logged; it is close-on-exec and flushed first, so the agent never
  // holds it and every line is in the file when the agent takes over.
  return startAgent(settings, command);
}

}  // namespace

int launcherMain(int argc, char** argv, const char* version) {
  // The process locale matters only for a message: the catalogue sets it
  // from the environment when it chooses the language, so a run that shows
  // nothing does not pay for loading the locale (nearly half its start-up).
  setUpProcess();
  // Asking what the launcher is must never install anything: answered
  // before the INI file, the log or the agent is looked at.
  if (isVersionRequest(argc, argv)) {
    fputs((std::string("launcher ") + version + "\n").c_str(), stdout);
    return 0;
  }
  int status = launchSequence(argc, argv);
  // Closed here on every way of ending, so a write that fails at the end is
  // told too.
  closeLog();
  return status;
}
