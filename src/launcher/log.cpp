#include "log.h"

#include "programFile.h"
#include "utilities.h"
#include "utilitiesLinux.h"

FILE* logFile = nullptr;

namespace {

const char kRule[] = "======================================================\n";
const char kNotTrustedLine[] = "Not trusted: %s: %s\n";
const char kLogRefusedMessage[] = "%s: not writing the log to %s: %s\n";
const char kCannotStart[] = "Cannot start %s: %s\n";

}  // namespace

void openLog(const std::string& path, const std::string& who) {
  // Close-on-exec: neither the installer nor the agent inherits the log. It
  // holds every argument, tokens included, so a new one is the user's only.
  std::string why;
  logFile = openLogStream(path, &why);
  // An admin who asked for a log is told why there is none, unless the
  // file simply cannot be opened.
  if (!logFile && !why.empty()) {
    fprintf(stderr, kLogRefusedMessage, who.c_str(), path.c_str(), why.c_str());
  }
}

void logNotTrusted(const std::string& path, const std::string& why) {
  if (logFile) fprintf(logFile, kNotTrustedLine, path.c_str(), why.c_str());
}

void logRefusedHome() {
  std::string home, why, used;
  if (!logFile || !isHomeRefused(&home, &why)) return;
  logNotTrusted(home, why);
  getHomeDir(&used);
  logValue("homeDir", used);
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

void logStartFailure(const std::string& program, int execErrno) {
  if (!logFile || execErrno == 0) return;
  fprintf(logFile, kCannotStart, program.c_str(),
          whyProgramCannotStart(program, execErrno).c_str());
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
