#include "log.h"

#include <cerrno>
#include <cstring>

#include "programFile.h"
#include "utilities.h"
#include "utilitiesLinux.h"

FILE* logFile = nullptr;

namespace {

const char kRule[] = "======================================================\n";
const char kNotTrustedLine[] = "Not trusted: %s: %s\n";
const char kLogRefusedMessage[] = "%s: not writing the log to %s: %s\n";
const char kCannotStart[] = "Cannot start %s: %s\n";
const char kLogWriteFailedMessage[] = "%s: cannot write the log to %s: %s\n";

// Who writes the log where, for the line that says it failed. Never freed,
// so nothing runs for them at exit.
const std::string* logWho = nullptr;
const std::string* logPath = nullptr;
bool logFailureTold = false;

// Once per run: an admin who asked for a log must not read a missing or cut
// log as "nothing happened".
void tellLogFailure(const char* format, const std::string& why) {
  if (logFailureTold) return;
  logFailureTold = true;
  fprintf(stderr, format, logWho->c_str(), logPath->c_str(), why.c_str());
}

// After each write: stdio reports a write that failed, whole or in part
// (a full disk at a buffer boundary), only in the result of the call that
// flushed. Logging ends there, so the file is not cut at a second place.
void checkWrite(int result) {
  if (!logFile || result >= 0) return;
  int error = errno != 0 ? errno : EIO;
  tellLogFailure(kLogWriteFailedMessage, strerror(error));
  fclose(logFile);
  logFile = nullptr;
}

}  // namespace

void openLog(const std::string& path, const std::string& who) {
  // Close-on-exec: neither the installer nor the agent inherits the log. It
  // holds every argument, tokens included, so a new one is the user's only.
  std::string why;
  errno = 0;
  logFile = openLogStream(path, &why);
  int error = errno;
  logWho = new std::string(who);
  logPath = new std::string(path);
  // An admin who asked for a log is told why there is none.
  if (!logFile) {
    tellLogFailure(kLogRefusedMessage,
                   why.empty() ? strerror(error != 0 ? error : EIO) : why);
  }
}

void flushLog() {
  if (logFile) checkWrite(fflush(logFile));
}

void logNotTrusted(const std::string& path, const std::string& why) {
  if (logFile) checkWrite(fprintf(logFile, kNotTrustedLine, path.c_str(), why.c_str()));
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
  // The last lines are written only now: a full disk shows here.
  checkWrite(fflush(logFile));
  if (!logFile) return;
  if (fclose(logFile) != 0) tellLogFailure(kLogWriteFailedMessage, strerror(errno));
  logFile = nullptr;
}

FILE* muteLog() {
  FILE* file = logFile;
  logFile = nullptr;
  return file;
}

void unmuteLog(FILE* file) { logFile = file; }

void logSection(const char* title) {
  if (logFile) checkWrite(fprintf(logFile, "\n%s\n%s", title, kRule));
}

void logValue(const char* name, const std::string& value) {
  if (logFile) checkWrite(fprintf(logFile, "%s: (%s)\n", name, value.c_str()));
}

void logValue(const char* name, int value) {
  if (logFile) checkWrite(fprintf(logFile, "%s: (%d)\n", name, value));
}

void logList(const char* name, const std::vector<std::string>& list) {
  if (!logFile) return;
  for (size_t i = 0; i < list.size() && logFile; ++i) {
    checkWrite(fprintf(logFile, "%s[%zu]: (%s)\n", name, i, list[i].c_str()));
  }
}

void logLine(const char* text) {
  if (logFile) checkWrite(fputs(text, logFile));
}

void logFormat(const char* format, const std::string& value) {
  if (logFile) checkWrite(fputs(formatText(format, value.c_str()).c_str(), logFile));
}

void logStartFailure(const std::string& program, int execErrno) {
  if (!logFile || execErrno == 0) return;
  checkWrite(fprintf(logFile, kCannotStart, program.c_str(),
                     whyProgramCannotStart(program, execErrno).c_str()));
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
