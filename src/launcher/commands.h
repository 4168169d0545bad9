// The two command lines the launcher composes: the installer's (native, or a
// Windows Installer package through msiexec.exe) and the agent's. Functions
// of the settings and the probe results; they start nothing.
#ifndef LAUNCHER_COMMANDS_H_
#define LAUNCHER_COMMANDS_H_

#include <string>

#include "records.h"

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
// The installer's command line for the configured installer, whichever kind
// it is.
int createAgtInstallerArgList(const LauncherInfo& info, const IniSettings& ini,
                              const CmdSettings& cmd, const Settings& settings,
                              InstallerCommand* installer);
// The variables the installer gets beside the launcher's environment: the
// location file the launcher reads after it, admin mode, the required
// version and the package directory.
int createAgtInstallerEnv(const LauncherInfo& info, const IniSettings& ini,
                          const Settings& settings, InstallerCommand* installer);
int createAgentArgList(const IniSettings& ini, const CmdSettings& cmd,
                       const Settings& settings, const AgentInfo& agent,
                       AgentCommand* command);
bool isJavaCommand(const std::string& path);

#endif  // LAUNCHER_COMMANDS_H_
