#include "checkRun.h"

#include <unistd.h>

#include <cstdlib>

#include "checkFiles.h"
#include "checkLines.h"
#include "checkValues.h"
#include "commands.h"
#include "probe.h"
#include "settings.h"
#include "utilities.h"
#include "utilitiesLinux.h"

const char kAgentDirectoryStandIn[] = "<agent directory>";

namespace {

std::string flag(int value) { return std::to_string(value); }

void addSetting(CheckReport* report, const std::string& name,
                const std::string& value, const std::string& source,
                bool plain = false) {
  report->effective.push_back(CheckSetting{name, value, source, plain});
}

// Where each effective setting came from, told by merging the INI file and
// the command line with each of them left out in turn: the merge rule itself
// stays in one place.
void describeSettings(CheckReport* report) {
  const IniSettings none;
  const CmdSettings noOptions;
  Settings onlyCmd, onlyIni, neither;
  processCmdLineAndIni(report->info, none, report->cmd, &onlyCmd);
  processCmdLineAndIni(report->info, report->ini, noOptions, &onlyIni);
  processCmdLineAndIni(report->info, none, noOptions, &neither);
  struct Field {
    const char* name;
    std::string (*get)(const Settings&);
    bool isFlag;
  };
  const Field fields[] = {
      {"isSilent", [](const Settings& s) { return flag(s.isSilent); }, true},
      {"isWait", [](const Settings& s) { return flag(s.isWait); }, true},
      {"isDialogAllowed", [](const Settings& s) { return flag(s.isDialogAllowed); }, true},
      {"isUserAdmin", [](const Settings& s) { return flag(s.isUserAdmin); }, true},
      {"isLicenseAccepted", [](const Settings& s) { return flag(s.isLicenseAccepted); }, true},
      {"appDataLocation", [](const Settings& s) { return s.appDataLocation; }, false},
      {"nl", [](const Settings& s) { return s.nl; }, false},
      {"inputFile", [](const Settings& s) { return s.inputFile; }, false},
  };
  for (const Field& field : fields) {
    std::string value = field.get(report->settings);
    std::string source = "default";
    if (value == field.get(onlyCmd) && value != field.get(neither)) {
      source = "option";
    } else if (value == field.get(onlyIni) && value != field.get(neither)) {
      source = "INI";
    }
    addSetting(report, field.name, value, source, field.isFlag);
  }

  const IniSettings& ini = report->ini;
  const std::pair<const char*, const std::string*> iniOnly[] = {
      {"[INSTALLER] LOCATION", &ini.iniInstallerLocation},
      {"[MANAGER] LOCATION_KEY", &ini.iniManagerLocationKey},
      {"[MANAGER] LOCATION_FILE", &ini.iniManagerLocationFile},
      {"[MANAGER] VERSION", &ini.iniManagerVersion},
      {"[MANAGER] LAUNCHER", &ini.iniManagerLauncher},
      {"[MANAGER] LAUNCHER_SILENT", &ini.iniManagerLauncherSilent},
  };
  for (const auto& entry : iniOnly) {
    addSetting(report, entry.first, *entry.second,
               entry.second->empty() ? "default" : "INI");
  }
  addSetting(report, "[MANAGER] MODE", modeName(ini.mode),
             ini.iniMode.empty() ? "default" : "INI");

  auto listText = [](const std::vector<std::string>& list) {
    std::string text;
    for (const std::string& item : list) text += (text.empty() ? "" : " ") + shown(item);
    return text;
  };
  const struct {
    const char* name;
    const std::vector<std::string>& option;
    const std::vector<std::string>& file;
  } lists[] = {
      {"installer extra arguments", report->cmd.argInstallerArgs, ini.iniInstallerArgs},
      {"agent extra arguments", report->cmd.argManagerArgs, ini.iniManagerArgs},
  };
  for (const auto& list : lists) {
    // A command-line list replaces the INI list whole.
    if (!list.option.empty()) {
      addSetting(report, list.name, listText(list.option), "option", true);
    } else {
      addSetting(report, list.name, listText(list.file),
                 list.file.empty() ? "default" : "INI", true);
    }
  }
  if (report->cmd.isDebug) addSetting(report, "log", report->cmd.argLogFile, "option");
}

void addLook(CheckReport* report, const char* kind, const std::string& what,
             const std::string& path, const std::string& value,
             const std::string& whyNot) {
  CheckLook look;
  look.kind = kind;
  look.what = what;
  look.path = path;
  look.found = !value.empty();
  look.value = value;
  if (!look.found) {
    std::string why = path.empty() ? std::string() : fileProblem(path);
    look.why = why.empty() ? whyNot : why;
  }
  report->looks.push_back(look);
}

void describeProbe(CheckReport* report) {
  const ProbeTrace& trace = report->trace;
  if (trace.locationSource.empty()) {
    addLook(report, "location", "agent location", "", "",
            "neither LOCATION_KEY nor LOCATION_FILE is set");
    return;
  }
  bool isKey = trace.locationSource == "key";
  std::string what = isKey ? (trace.keyType == KEY_TYPE_MACHINE
                                  ? "location key file (admin mode: the key is the path)"
                                  : "location key file (per user, under the home directory)")
                           : "reference file";
  addLook(report, isKey ? "key" : "file", what, trace.keyFile, report->agent.refLocation,
          trace.keyFile.empty() ? "no home directory (HOME is unset and the user "
                                  "has no password entry)"
                                : "it holds no location= line");
  if (report->agent.refLocation.empty()) return;
  addLook(report, "config", "agent configuration file", trace.configFile, trace.appDataDir,
          "it holds no zel.appDataLocation= line with a value");
  if (trace.appDataDir.empty()) return;
  addLook(report, "packages", "installed-packages file", trace.installedXMLFile,
          report->agent.refVersion,
          std::string("it holds no line with <package id='") + kAgentPackageId +
              "' version='...'");
}

void decideRun(CheckReport* report) {
  const Settings& settings = report->settings;
  std::string start = settings.isWait
                          ? "the agent runs as a child that the launcher waits "
                            "for, started again while it exits with 23; its "
                            "status is the launcher's"
                          : "the agent replaces the launcher (exec); its exit "
                            "status is the caller's";
  if (report->sufficient) {
    createAgentArgList(report->ini, report->cmd, settings, report->agent,
                       &report->agentCommand);
    report->agentKnown = true;
    report->agentWaited = settings.isWait;
    if (!isFileExist(report->agentCommand.AgentProgram)) {
      report->endStatus = 1;
      report->endText = "the agent program " + report->agentCommand.AgentProgram +
                        " is missing: error message, exit status 1";
      return;
    }
    report->endText = start;
    return;
  }
  if (report->ini.iniInstallerLocation.empty()) {
    report->endStatus = 1;
    report->endText = "no sufficient agent and no installer: error message, "
                      "exit status 1";
    return;
  }
  createAgtInstallerArgList(report->info, report->ini, report->cmd, settings,
                            &report->installer);
  const std::string& image = isMSIFile(report->ini.iniInstallerLocation)
                                 ? report->installer.msiFile
                                 : report->installer.InstallerProgram;
  if (!isFileExist(image)) {
    report->endStatus = 1;
    report->endText = "the installer " + image + " is missing: error message, "
                      "exit status 1";
    return;
  }
  report->installerRuns = true;
  // Where the agent lands is the installer's business: the agent's command
  // line is shown for a stand-in directory, as the composer makes it.
  AgentInfo landed;
  landed.refLocation = kAgentDirectoryStandIn;
  createAgentArgList(report->ini, report->cmd, settings, landed, &report->agentCommand);
  report->agentPredicted = true;
  report->agentWaited = settings.isWait;
  report->endText =
      "the installer runs as a child" +
      (settings.nl.empty() ? std::string() : " with LANG=" + settings.nl) +
      "; then by its exit status:\n"
      "0: the launcher looks for the agent again; when a sufficient one is "
      "found, " + start + "; else error message, exit status 1\n"
      "232: cancelled by the user, exit status 232\n"
      "any other N: error message \"Return Code=N\", exit status N";
}

}  // namespace

void checkPackage(const std::string& launcherPath,
                  const std::vector<std::string>& args, CheckReport* report) {
  report->launcherArgs = args;
  // The launcher started by this path would find itself here; the file
  // need not exist yet for the package beside it to be explained.
  std::string fullPath = launcherPath;
  if (!isFileAbsolute(launcherPath)) {
    char* cwd = getcwd(nullptr, 0);
    if (cwd) fullPath = std::string(cwd) + "/" + launcherPath;
    free(cwd);
  }
  setLauncherInfo(fullPath, &report->info);
  checkLauncherFile(report);

  report->iniPath = report->info.launcherDir + report->info.launcherName + ".ini";
  IniAnalysis analysis;
  IniListener listener = iniAnalysisListener(&analysis);
  report->iniRead = processINI(report->iniPath, &report->ini, &listener) == 1;
  if (!report->iniRead) {
    checkIniMissing(report);
    report->endStatus = 1;
    report->endText = "the INI file cannot be read: error message \"Cannot open "
                      "INI file\", exit status 1";
    return;
  }

  std::vector<std::string> argvText = {fullPath};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argvText.size() + 1);
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  report->help = parseCmdlineArg(static_cast<int>(argvText.size()), argv.data(),
                                 &report->cmd) == 0;
  processCmdLineAndIni(report->info, report->ini, report->cmd, &report->settings);

  KeyLines keyLine = checkIniLines(analysis, report);
  checkIniValues(keyLine, report);
  checkPackageFiles(keyLine, report);

  describeSettings(report);
  if (report->help) {
    report->endStatus = 0;
    report->endText = "a help option: the usage is shown, nothing else runs, "
                      "exit status 0";
    return;
  }
  getInstalledAgentInfo(report->info, report->ini, report->settings,
                        &report->agent, &report->trace);
  describeProbe(report);
  report->sufficient = isAgentSufficient(report->agent, report->ini);
  decideRun(report);
  if (report->agentKnown && report->endStatus == 1) {
    addProblem(report, report->iniPath, lineOf(keyLine, "LAUNCHER"), CHECK_ERROR,
               "agent-program-missing",
               "the agent installed here has no program " +
                   report->agentCommand.AgentProgram,
               "LAUNCHER=<the agent program, relative to " +
                   report->agent.refLocation + ">");
  }
}
