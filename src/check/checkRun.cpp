#include "checkRun.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "checkFiles.h"
#include "checkLines.h"
#include "checkOptions.h"
#include "checkValues.h"
#include "commands.h"
#include "files.h"
#include "probe.h"
#include "settings.h"
#include "stringtable.h"
#include "trust.h"
#include "utilities.h"
#include "utilitiesLinux.h"

const char kAgentDirectoryStandIn[] = "<agent directory>";

namespace {

// Far beyond any INI file; a bound on what a changed copy holds.
const size_t kMostIniBytes = 1U << 20;

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
    std::string why = path.empty() || report->clean ? std::string()
                                                    : fileProblem(*report, path);
    look.why = why.empty() ? whyNot : why;
  }
  report->looks.push_back(look);
}

// The probe ran with the tool's own permissions; the identity a run is
// explained for finds nothing past a file it cannot read.
void limitProbeToIdentity(CheckReport* report) {
  ProbeTrace& trace = report->trace;
  AgentInfo& agent = report->agent;
  if (report->clean) {
    agent = AgentInfo();
    trace.configFile.clear();
    trace.appDataDir.clear();
    trace.installedXMLFile.clear();
    return;
  }
  if (report->identity.caller) return;
  if (!agent.refLocation.empty() && !fileProblem(*report, trace.keyFile).empty()) {
    agent = AgentInfo();
  } else if (!trace.appDataDir.empty() &&
             !fileProblem(*report, trace.configFile).empty()) {
    trace.appDataDir.clear();
    agent.refVersion.clear();
  } else if (!agent.refVersion.empty() &&
             !fileProblem(*report, trace.installedXMLFile).empty()) {
    agent.refVersion.clear();
  }
}

std::string noHomeText() {
  return "no home directory (HOME is unset and the user has no password entry)";
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
          trace.keyFile.empty() ? noHomeText()
          : report->clean       ? "none on a clean machine: the installer must write it"
                                : "it holds no location= line");
  if (report->agent.refLocation.empty()) return;
  addLook(report, "config", "agent configuration file", trace.configFile, trace.appDataDir,
          "it holds no zel.appDataLocation= line with a value");
  if (trace.appDataDir.empty()) return;
  addLook(report, "packages", "installed-packages file", trace.installedXMLFile,
          report->agent.refVersion,
          packagesFileWhy(trace.installedXMLFile));
}

// A file that root's rule refuses counts as missing for root: an agent
// unpacked with the archive's user ids, say.
void addRefusedByRoot(const std::string& file, const std::string& why,
                      CheckReport* report) {
  addProblem(report, file, 0, CHECK_ERROR, "untrusted-agent-file",
             why + ": the launcher, run by root, counts it as not found, since "
                   "another user could change it",
             "make it and every directory above it root's and writable by no one else "
             "(chown -R root:root, chmod -R go-w), or install the agent as root again");
}

// A location that another user could write decides what root runs.
void checkLocationTrust(const KeyLines& keyLine, CheckReport* report) {
  const ProbeTrace& trace = report->trace;
  if (report->identity.uid != 0 || trace.keyFile.empty()) return;
  std::string why = untrustedByRoot(trace.keyFile);
  if (why.empty()) return;
  bool isKey = trace.locationSource == "key";
  addProblem(report, report->iniPath,
             lineOf(keyLine, isKey ? "LOCATION_KEY" : "LOCATION_FILE"), CHECK_ERROR,
             "untrusted-location",
             std::string(isKey ? "the location key file " : "the reference file ") +
                 trace.keyFile + ": " + why +
                 "; any user could then choose the program root runs",
             "a location only root may write (owned by root, in directories "
             "that only root may write, e.g. /etc/<vendor>/ or /var/lib/<vendor>/)");
}

// The installer runs as the same user, and must record the agent where the
// launcher will look.
// Returns why it cannot; "" when it can.
std::string checkLocationWritable(const KeyLines& keyLine, CheckReport* report) {
  const ProbeTrace& trace = report->trace;
  if (trace.keyFile.empty()) return std::string();
  std::string why = createProblem(report->identity, trace.keyFile);
  if (why.empty()) return why;
  bool isKey = trace.locationSource == "key";
  // An ordinary user in admin mode reads a machine-wide location only
  // because ISADMIN=true says so: that line is what to change.
  bool byIsAdmin = report->identity.uid != 0 && report->settings.isUserAdmin &&
                   !report->cmd.argIsUserAdmin && isTrueWord(report->ini.iniIsAdmin);
  int line = byIsAdmin ? lineOf(keyLine, "ISADMIN")
                       : lineOf(keyLine, isKey ? "LOCATION_KEY" : "LOCATION_FILE");
  std::string fix = report->identity.uid == 0
                        ? std::string("a location root may write")
                        : "a per-user location under a home directory the user owns "
                          "(ISADMIN=false, LOCATION_KEY relative to $HOME)";
  if (byIsAdmin) {
    fix = "remove ISADMIN=" + report->ini.iniIsAdmin +
          " (root runs in admin mode without it), so that an ordinary user's run "
          "reads the location under the home directory";
  }
  addProblem(report, report->iniPath, line, CHECK_ERROR, "location-not-writable",
             "the installer, run by " + identityText(report->identity) +
                 ", cannot write " + trace.keyFile + " where the launcher will look" +
                 (byIsAdmin ? " (admin mode by ISADMIN=" + report->ini.iniIsAdmin + ")"
                            : std::string()) +
                 ": " + why + "; the agent is then never found",
             fix);
  return why;
}

// The text a user sees when the agent cannot be found, as the launcher
// shows it (in English).
std::string agentNotFoundMessage(const CheckReport& report) {
  const char* format =
      getStrFromSpecTable(MSG_AGENT_NOT_FOUND, MsgTable_EN, kMsgTableSize);
  return formatText(format ? format : "%s", report.ini.iniManagerVersion.c_str());
}

void fail(CheckReport* report, int status, const std::string& text,
          const std::string& fix) {
  report->runFails = true;
  report->endStatus = status;
  report->endText = text;
  report->failFix = fix;
}

// What the launcher reads once the installer has ended with 0.
void describeContract(CheckReport* report) {
  const ProbeTrace& trace = report->trace;
  const std::string dir = kAgentDirectoryStandIn;
  std::vector<CheckExpectation>& contract = report->contract;
  if (trace.locationSource.empty()) return;
  contract.push_back({trace.keyFile.empty() ? "(" + noHomeText() + ")" : trace.keyFile,
                      "location=" + dir});
  contract.push_back({dir + "/eclipse/configuration/config.ini",
                      "zel.appDataLocation=<data directory>"});
  const std::string& version = report->ini.iniManagerVersion;
  contract.push_back({"<data directory>/installed.xml",
                      std::string("<package id='") + kAgentPackageId + "' version='" +
                          (version.empty() ? "<any version>" : version) +
                          "'/> (or a later version)"});
  contract.push_back({report->agentCommand.AgentProgram,
                      "the agent program, which " + identityText(report->identity) +
                          " may start"});
}

void decideRun(const KeyLines& keyLine, CheckReport* report) {
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
    const std::string& program = report->agentCommand.AgentProgram;
    std::string refused;
    if (!isAgentProgramUsable(program, &refused) && !refused.empty()) {
      addRefusedByRoot(program, refused, report);
      fail(report, 1,
           "root's rule refuses the agent program " + program + ": error message \"" +
               agentNotFoundMessage(*report) + "\", exit status 1",
           report->problems.back().fix);
      return;
    }
    if (!isFileExist(program)) {
      // The launcher says the agent cannot be found, though it was: only
      // its program is missing.
      fail(report, 1,
           "the agent program " + program + " is missing: error message \"" +
               agentNotFoundMessage(*report) + "\", exit status 1",
           "LAUNCHER=<the agent program, relative to " + report->agent.refLocation + ">");
      addProblem(report, report->iniPath, lineOf(keyLine, "LAUNCHER"), CHECK_ERROR,
                 "agent-program-missing",
                 "the agent installed here (version " + report->agent.refVersion +
                     " in " + report->agent.refLocation + ") has no program " + program +
                     ": the user is told \"" + agentNotFoundMessage(*report) +
                     "\", but the real cause is the missing program",
                 report->failFix);
      return;
    }
    std::string why = programProblem(*report, program);
    if (!why.empty()) {
      fail(report, 255,
           "the agent program " + program + " cannot be started (" + why +
               "): exit status 255, with no message",
           startFix(program, why));
      addProblem(report, report->iniPath, lineOf(keyLine, "LAUNCHER"), CHECK_ERROR,
                 "agent-cannot-start",
                 "the agent program " + program + " cannot be started by " +
                     identityText(report->identity) + ": " + why,
                 report->failFix);
      return;
    }
    report->endText = start;
    return;
  }
  if (report->ini.iniInstallerLocation.empty()) {
    fail(report, 1,
         "no sufficient agent and no installer: error message \"" +
             agentNotFoundMessage(*report) + "\", exit status 1",
         "LOCATION=<your installer> in [INSTALLER], or install a sufficient agent "
         "before the package runs");
    return;
  }
  createAgtInstallerArgList(report->info, report->ini, report->cmd, settings,
                            &report->installer);
  bool isMsi = isMSIFile(report->ini.iniInstallerLocation);
  const std::string& image =
      isMsi ? report->installer.msiFile : report->installer.InstallerProgram;
  if (!isFileExist(image)) {
    fail(report, 1, "the installer " + image + " is missing: error message, exit status 1",
         "put the installer there, or correct LOCATION");
    return;
  }
  std::string link, target;
  if (linksOutOfPackage(*report, image, &link, &target)) {
    fail(report, -1,
         "the installer " + link + " leads out of the package, to " + target +
             ": what it starts is not part of the package",
         kLinkOutFix);
    return;
  }
  std::string why = isMsi ? std::string() : programProblem(*report, image);
  if (!why.empty()) {
    fail(report, 255,
         "the installer " + image + " cannot be started (" + why +
             "): error message \"Return Code=255\", exit status 255",
         startFix(image, why));
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
  describeContract(report);
  std::string unwritable = checkLocationWritable(keyLine, report);
  report->endText =
      "the installer runs as a child" +
      (settings.nl.empty() ? std::string() : " with LANG=" + settings.nl) +
      "; then by its exit status:\n"
      "0: the launcher looks for the agent again; when a sufficient one is "
      "found, " + start + "; else error message \"" + agentNotFoundMessage(*report) +
      "\", exit status 1\n"
      "232: cancelled by the user, exit status 232\n"
      "any other N: error message \"Return Code=N\", exit status N";
  const ProbeTrace& trace = report->trace;
  if (!unwritable.empty()) {
    report->runFails = true;
    report->failFix = report->problems.back().fix;
    report->endText += "\nbut the installer cannot write " + trace.keyFile + " (" +
                       unwritable + "): the run ends with exit status 1 or the "
                       "installer's own failure";
  }
  if (trace.locationSource.empty() || trace.keyFile.empty()) {
    report->runFails = true;
    report->failFix = trace.locationSource.empty()
                          ? "LOCATION_KEY=<the key file your installer writes>"
                          : "a home directory for the user (HOME)";
    report->endText += "\nbut the launcher has nowhere to look for the agent (" +
                       (trace.locationSource.empty()
                            ? std::string("neither LOCATION_KEY nor LOCATION_FILE")
                            : noHomeText()) +
                       "): whatever the installer does, the run ends with exit "
                       "status 1 or the installer's own failure";
  }
}

// The run cannot succeed: a problem of its own, whatever else was found.
void addRunFails(CheckReport* report) {
  if (!report->runFails) return;
  std::string end = report->endText;
  size_t lineEnd = end.find('\n');
  if (end.find("\nbut ") != std::string::npos) end = end.substr(end.find("\nbut ") + 5);
  else if (lineEnd != std::string::npos) end.resize(lineEnd);
  addProblem(report, report->iniRead ? report->iniPath : report->info.launcherFullPath, 0,
             CHECK_ERROR, "run-fails",
             "the run cannot succeed for " + identityText(report->identity) +
                 ": " + end,
             report->failFix);
}

// The INI file as the launcher reads it, up to a size no INI file reaches.
// The INI file's bytes, opened as the dry run opened it: never through a
// link that leads out of the package.
std::string iniBytes(const CheckReport& report) {
  std::string text, link, target;
  FILE* file = openPackageIni(report, &link, &target);
  if (!file) return text;
  char buffer[4096];
  size_t got;
  while (text.size() < kMostIniBytes && (got = fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
  }
  fclose(file);
  return text;
}

void judgePackage(const std::string& launcherPath, const std::vector<std::string>& args,
                  CheckReport* report);

CheckReport judged(const std::string& launcherPath, const std::vector<std::string>& args,
                   const CheckIdentity& who, bool clean, const std::string& text) {
  CheckReport copy;
  copy.identity = who;
  copy.clean = clean;
  copy.iniFromText = true;
  copy.iniText = text;
  judgePackage(launcherPath, args, &copy);
  return copy;
}

bool hasCode(const CheckReport& report, const std::string& code) {
  for (const CheckProblem& problem : report.problems) {
    if (problem.code == code) return true;
  }
  return false;
}

// The lines of `text`, each with its line end.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

// The section header a line of the INI file starts, or "".
std::string headerIn(const std::string& text) {
  for (const char* header : iniSectionHeaders()) {
    if (text.find(header) != std::string::npos) return header;
  }
  return std::string();
}

// The INI text with `problem` mended, when it is a cause that spoils other
// lines; "" when it is none.
std::string mendedCause(const CheckProblem& problem, const std::string& text) {
  std::vector<std::string> lines = linesOf(text);
  size_t index = static_cast<size_t>(problem.line > 0 ? problem.line - 1 : 0);
  if (problem.code == "crlf") {
    std::string mended;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] == '\n')) continue;
      mended += text[i];
    }
    return mended;
  }
  if (problem.code == "byte-order-mark") return text.substr(3);
  if (index >= lines.size()) return std::string();
  if (problem.code == "unknown-section" || problem.code == "not-a-header") {
    std::string header =
        !problem.fix.empty() && problem.fix[0] == '[' ? headerIn(problem.fix) : std::string();
    if (header.empty()) return std::string();
    lines[index] = header + "\n";
    return joined(lines);
  }
  if (problem.code == "text-before-section") {
    // Known keys before any header: the headers they belong under are
    // missing, each before the first of its keys.
    std::vector<std::string> mended;
    std::string current;
    size_t i = 0;
    for (; i < lines.size() && headerIn(lines[i]).empty(); ++i) {
      size_t equals = lines[i].find('=');
      const char* section = equals == std::string::npos
                                ? nullptr
                                : iniSectionOfKey(trim(lines[i].substr(0, equals)));
      if (section && current != section) {
        current = section;
        mended.push_back(current + "\n");
      }
      mended.push_back(lines[i]);
    }
    if (current.empty()) return std::string();
    mended.insert(mended.end(), lines.begin() + static_cast<long>(i), lines.end());
    return joined(mended);
  }
  return std::string();
}

// When one problem spoils the lines after it (CR LF line ends, a
// byte-order mark, a missing or misspelt header), the problems that vanish
// once it is mended are its consequences: listed under it, not counted, and
// the run's fix is the cause's.
void explainCauses(const std::string& launcherPath, const std::vector<std::string>& args,
                   const std::string& text, CheckReport* report) {
  for (size_t i = 0; i < report->problems.size(); ++i) {
    std::string mended = mendedCause(report->problems[i], text);
    if (mended.empty() || mended == text) continue;
    CheckReport after = judged(launcherPath, args, report->identity, report->clean, mended);
    std::vector<CheckProblem> kept;
    std::vector<CheckConsequence> explained;
    for (size_t k = 0; k < report->problems.size(); ++k) {
      const CheckProblem& other = report->problems[k];
      bool vanishes = k != i && other.code != report->problems[i].code &&
                      other.consequences.empty() && !hasCode(after, other.code);
      if (vanishes) {
        explained.push_back({other.line, other.severity, other.code, other.message});
      } else {
        kept.push_back(other);
      }
    }
    if (explained.empty()) continue;
    CheckProblem* cause = nullptr;
    for (CheckProblem& problem : kept) {
      if (problem.code == report->problems[i].code && problem.line == report->problems[i].line) {
        cause = &problem;
      }
    }
    std::string list;
    for (const CheckConsequence& consequence : explained) {
      if (consequence.severity == CHECK_ERROR) cause->severity = CHECK_ERROR;
      list += (list.empty() ? "" : ", ") + consequence.code +
              (consequence.line > 0 ? " (line " + std::to_string(consequence.line) + ")"
                                    : std::string());
    }
    cause->message += "; because of it, also: " + list;
    if (cause->code == "text-before-section") {
      cause->message = "the file has no section header before its first keys, so the "
                       "launcher ignores them; because of it, also: " + list;
      cause->fix = "the section headers the keys belong under, e.g. " +
                   headerIn(linesOf(mendedCause(*cause, text))[static_cast<size_t>(cause->line - 1)]) +
                   " before line " +
                   std::to_string(cause->line);
    }
    cause->consequences = explained;
    if (report->runFails) report->failFix = cause->fix;
    report->problems = kept;
    // The list changed under the loop: look again from its start; a cause
    // already explained finds nothing more.
    i = static_cast<size_t>(-1);
  }
}

// The INI lines a fix offers: "KEY=value" for a key the launcher knows,
// with nothing to fill in; "A or B" offers two. None for fixes in words.
std::vector<std::string> fixLines(const std::string& fix) {
  std::vector<std::string> lines;
  std::string rest = fix.substr(0, fix.find(" ("));
  while (!rest.empty()) {
    size_t cut = rest.find(" or ");
    std::string line = rest.substr(0, cut);
    if (!line.empty() && line.back() == ',') line.pop_back();
    rest = cut == std::string::npos ? std::string() : rest.substr(cut + 4);
    size_t equals = line.find('=');
    if (equals == std::string::npos || line.find('<') != std::string::npos ||
        !iniSectionOfKey(line.substr(0, equals))) {
      return std::vector<std::string>();
    }
    lines.push_back(line);
  }
  return lines;
}

// The INI text with `line` (KEY=value) written: over the problem's own
// line when that sets the key, else under the key's section.
std::string withFix(const std::string& text, int problemLine, const std::string& line) {
  const std::string key = line.substr(0, line.find('='));
  std::vector<std::string> lines = linesOf(text);
  if (!lines.empty() && lines.back().back() != '\n') lines.back() += '\n';
  size_t index = static_cast<size_t>(problemLine > 0 ? problemLine - 1 : lines.size());
  if (index < lines.size() && trim(lines[index]).compare(0, key.size() + 1, key + "=") == 0) {
    lines[index] = line + "\n";
    return joined(lines);
  }
  const std::string section = iniSectionOfKey(key);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (trim(lines[i]) == section) {
      lines.insert(lines.begin() + static_cast<long>(i) + 1, line + "\n");
      return joined(lines);
    }
  }
  lines.push_back(section + "\n" + line + "\n");
  return joined(lines);
}

// A suggested fix must not break the run for the other identity: each INI
// line a fix offers is judged for root and the ordinary user, here and on a
// clean machine, before it is shown. The first that adds no error is
// offered; when none holds, the fix says what each would break.
void checkFixesHold(const std::string& launcherPath, const std::vector<std::string>& args,
                    const std::string& text, CheckReport* report) {
  std::vector<CheckIdentity> people;
  CheckIdentity root, user;
  std::string err;
  rootIdentity(std::string(), &root);
  people.push_back(root);
  if (report->identity.uid != 0) {
    people.push_back(report->identity);
  } else if (userIdentity(std::string(), std::string(), &user, &err)) {
    people.push_back(user);
  }
  std::vector<CheckReport> before;
  for (CheckProblem& problem : report->problems) {
    std::vector<std::string> offered = fixLines(problem.fix);
    if (offered.empty()) continue;
    if (before.empty()) {
      for (const CheckIdentity& who : people) {
        for (bool clean : {false, true}) {
          before.push_back(judged(launcherPath, args, who, clean, text));
        }
      }
    }
    std::string broken, holding;
    for (const std::string& line : offered) {
      std::string changed = withFix(text, problem.line, line);
      std::string breaks;
      for (size_t row = 0; row < before.size() && breaks.empty(); ++row) {
        const CheckReport& old = before[row];
        CheckReport after = judged(launcherPath, args, old.identity, old.clean, changed);
        for (const CheckProblem& added : after.problems) {
          if (added.severity != CHECK_ERROR || hasCode(old, added.code)) continue;
          breaks = line + " gives " + identityText(old.identity) +
                   (old.clean ? " on a clean machine" : "") + " the error " + added.code;
          break;
        }
      }
      if (breaks.empty()) {
        holding = line;
        break;
      }
      broken += (broken.empty() ? "" : "; ") + breaks;
    }
    if (broken.empty()) continue;
    if (holding.empty()) {
      problem.fix += " (but " + broken + ")";
    } else {
      problem.fix = holding;
      problem.fix += " (" + broken + ")";
    }
  }
}

// The whole dry run of one identity and machine, for the file or for a
// changed copy of it.
void judgePackage(const std::string& launcherPath, const std::vector<std::string>& args,
                  CheckReport* report) {
  actAs(report->identity);
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
  // The launcher reads its package through the directory it was started
  // from, where root's rule does not look; so does the prediction.
  reopenPackageDirectory(report->info.launcherDir);
  checkLauncherFile(report);

  report->iniPath = report->info.launcherDir + report->info.launcherName + ".ini";
  IniAnalysis analysis;
  IniListener listener = iniAnalysisListener(&analysis);
  std::string link, target;
  if (report->iniFromText) {
    std::string text = report->iniText;
    FILE* file = text.empty() ? nullptr : fmemopen(text.data(), text.size(), "r");
    report->iniRead = processINI(file, &report->ini, &listener) == 1;
    if (file) fclose(file);
  } else {
    FILE* iniFile = openPackageIni(*report, &link, &target);
    report->iniRead = iniFile && processINI(iniFile, &report->ini, &listener) == 1;
    if (iniFile) fclose(iniFile);
  }
  std::string unreadable =
      report->iniRead ? fileProblem(*report, report->iniPath) : std::string();
  if (!report->iniRead || !unreadable.empty()) {
    if (!link.empty()) {
      checkIniLinkedOut(link, target, report);
    } else if (report->iniRead) {
      checkIniUnreadable(unreadable, report);
    } else {
      checkIniMissing(report);
    }
    report->iniRead = false;
    fail(report, 1,
         "the INI file cannot be read: error message \"Cannot open INI file\", "
         "exit status 1",
         report->problems.back().fix);
    report->ini = IniSettings();
    addRunFails(report);
    return;
  }

  std::vector<std::string> argvText = {fullPath};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argvText.size() + 1);
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(argvText.size());
  bool version = isVersionRequest(argc, argv.data()) == 1;
  report->help = parseCmdlineArg(argc, argv.data(), &report->cmd) == 0 || version;
  processCmdLineAndIni(report->info, report->ini, report->cmd, &report->settings);

  KeyLines keyLine = checkIniLines(analysis, report);
  checkIniValues(keyLine, report);
  checkPackageFiles(keyLine, report);
  checkOptions(keyLine, report);

  describeSettings(report);
  if (report->help) {
    report->endStatus = 0;
    report->endText = version ? "a version option: the launcher prints its name and version, "
                                "nothing else runs, exit status 0"
                              : "a help option: the usage is shown, nothing else runs, "
                                "exit status 0";
    return;
  }
  getInstalledAgentInfo(report->info, report->ini, report->settings,
                        &report->agent, &report->trace);
  limitProbeToIdentity(report);
  describeProbe(report);
  if (!report->trace.untrustedFile.empty()) {
    addRefusedByRoot(report->trace.untrustedFile, report->trace.untrustedReason, report);
  }
  checkLocationTrust(keyLine, report);
  report->sufficient = isAgentSufficient(report->agent, report->ini);
  decideRun(keyLine, report);
  addRunFails(report);
}

}  // namespace

void checkPackage(const std::string& launcherPath,
                  const std::vector<std::string>& args, CheckReport* report) {
  judgePackage(launcherPath, args, report);
  if (!report->iniRead || report->help) return;
  // Changed copies of the INI file are judged, each as its own run.
  std::string text = iniBytes(*report);
  explainCauses(launcherPath, args, text, report);
  checkFixesHold(launcherPath, args, text, report);
  actAs(report->identity);
}
