#include "commands.h"

#include <cstring>

#include "log.h"
#include "probe.h"
#include "settings.h"
#include "utilities.h"
#include "utilitiesLinux.h"

namespace {

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

// The installer's variables share one prefix, which no INI key has.
const char kEnvLocationFile[] = "QUORVIN_LOCATION_FILE";
const char kEnvAdmin[] = "QUORVIN_ADMIN";
const char kEnvRequiredVersion[] = "QUORVIN_REQUIRED_VERSION";
const char kEnvPackageDir[] = "QUORVIN_PACKAGE_DIR";

std::string variable(const char* name, const std::string& value) {
  return std::string(name) + "=" + value;
}

}  // namespace

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
  // From PATH only: an msiexec.exe in the working directory is whoever
  // controls that directory's choice, not the user's.
  installer->InstallerProgram = findInPath("msiexec.exe");
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
    // No shell splits it: quotes would become part of the archive's name.
    slots.push_back(joinPath(agent.refLocation, "eclipse/startup.jar"));
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

int createAgtInstallerEnv(const LauncherInfo& info, const IniSettings& ini,
                          const Settings& settings, InstallerCommand* installer) {
  std::string locationFile;
  getLocationFilePath(info, ini, settings.isUserAdmin, &locationFile);
  // A relative HOME leaves a per-user key relative to the working
  // directory; the installer may change its own, so it gets the same file
  // by its absolute name.
  if (!locationFile.empty() && !isFileAbsolute(locationFile)) {
    std::string cwd = currentDirectory();
    if (!cwd.empty()) locationFile = joinPath(cwd, locationFile);
  }
  std::string packageDir = info.launcherDir;
  if (packageDir.size() > 1) removeTrailSlash(&packageDir);
  installer->installerEnv = {
      variable(kEnvLocationFile, locationFile),
      variable(kEnvAdmin, settings.isUserAdmin ? "1" : "0"),
      variable(kEnvRequiredVersion, ini.iniManagerVersion),
      variable(kEnvPackageDir, packageDir),
  };
  // Root refused the caller's HOME: the installer must not write under it
  // either, or it records an agent there that the launcher then refuses.
  std::string refused, why, home;
  if (isHomeRefused(&refused, &why) && getHomeDir(&home) == 0) {
    installer->installerEnv.push_back(variable("HOME", home));
  }
  return 1;
}

int createAgtInstallerArgList(const LauncherInfo& info, const IniSettings& ini,
                              const CmdSettings& cmd, const Settings& settings,
                              InstallerCommand* installer) {
  createAgtInstallerEnv(info, ini, settings, installer);
  if (isMSIFile(ini.iniInstallerLocation)) {
    return createAgtInstallerArgList_MSI(info, ini, cmd, settings, installer);
  }
  return createAgtInstallerArgList_linux(info, ini, cmd, settings, installer);
}
