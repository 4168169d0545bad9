#include "trial.h"

#include <fcntl.h>
#include <ftw.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "checkEscape.h"
#include "checkFiles.h"
#include "checkOutput.h"
#include "commands.h"
#include "probe.h"
#include "programFile.h"
#include "settings.h"
#include "trust.h"
#include "utilities.h"
#include "utilitiesLinux.h"

namespace {

const int kInstallerSeconds = 300;
const long kPollNanoseconds = 20L * 1000 * 1000;
const int kStepSeconds = 60;
const size_t kOutputLines = 20;
const size_t kOutputBytes = 4000;

bool isUpgrade(const TrialReport& report) { return !report.upgradeRun.from.empty(); }

// --- Fields a step hands back ----------------------------------------------

void put(std::string* out, const std::string& key, const std::string& value) {
  *out += key + " " + std::to_string(value.size()) + "\n" + value;
}

typedef std::vector<std::pair<std::string, std::string>> Fields;

Fields parseFields(const std::string& text) {
  Fields fields;
  size_t at = 0;
  while (at < text.size()) {
    size_t blank = text.find(' ', at), line = text.find('\n', at);
    if (blank == std::string::npos || line == std::string::npos || blank > line) break;
    size_t size = strtoul(text.substr(blank + 1, line - blank - 1).c_str(), nullptr, 10);
    if (size > text.size() - line - 1) break;
    fields.emplace_back(text.substr(at, blank - at), text.substr(line + 1, size));
    at = line + 1 + size;
  }
  return fields;
}

// A number a step wrote.
int number(const std::string& text) {
  return static_cast<int>(strtol(text.c_str(), nullptr, 10));
}

std::string field(const Fields& fields, const std::string& key) {
  for (const auto& f : fields) {
    if (f.first == key) return f.second;
  }
  return std::string();
}

void writeOut(int out, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(out, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// The last field tells that the step got to its end.
void finish(int out, std::string* text) {
  put(text, "done", "1");
  writeOut(out, *text);
}

void putItem(std::string* out, const char* code, bool holds, const std::string& detail,
             const std::string& fix) {
  put(out, "item", code);
  put(out, "holds", holds ? "1" : "0");
  put(out, "detail", detail);
  put(out, "fix", holds ? std::string() : fix);
}

void putList(std::string* out, const std::string& key, const std::vector<std::string>& list) {
  for (const std::string& entry : list) put(out, key, entry);
}

// --- What a step needs ---------------------------------------------------------

struct TrialContext {
  const CheckReport* check;
  int agentSeconds;
  std::string upgradeFrom;  // the old launcher, for an upgrade
};

// The effective settings as the launcher makes them for whoever runs now.
Settings settingsHere(const CheckReport& check) {
  // The dry run may have assumed another user in the process the steps are
  // copies of: inside, the real one decides.
  assumeUserId(-1);
  reopenPackageDirectory(check.info.launcherDir);
  Settings settings;
  processCmdLineAndIni(check.info, check.ini, check.cmd, &settings);
  return settings;
}

// The first lines a program wrote, at most a screenful.
std::string firstLines(int fd) {
  std::string text;
  char buffer[4096];
  lseek(fd, 0, SEEK_SET);
  ssize_t got;
  while (text.size() < kOutputBytes && (got = read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(got));
  }
  size_t lines = 0, at = 0;
  while (at < text.size() && lines < kOutputLines) {
    size_t end = text.find('\n', at);
    at = end == std::string::npos ? text.size() : end + 1;
    ++lines;
  }
  return text.substr(0, std::min(at, kOutputBytes));
}

// A program's output, kept up to kOutputBytes: a helper process reads all
// of it, so that a program that writes without end neither blocks nor
// fills the memory.
struct Capture {
  int input = -1;  // the programs write here
  int kept = -1;   // what the helper kept
  pid_t helper = -1;
};

bool startCapture(Capture* capture) {
  int pipeFds[2];
  capture->kept = memfd_create("output", MFD_CLOEXEC);
  if (capture->kept < 0 || pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  capture->helper = fork();
  if (capture->helper == 0) {
    close(pipeFds[1]);
    char buffer[4096];
    size_t kept = 0;
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
      size_t take = std::min(static_cast<size_t>(got > 0 ? got : 0), kOutputBytes - kept);
      if (take > 0 && write(capture->kept, buffer, take) == static_cast<ssize_t>(take)) kept += take;
    }
    _exit(0);
  }
  close(pipeFds[0]);
  capture->input = pipeFds[1];
  return capture->helper > 0;
}

// The first lines the programs wrote. Programs they left running may hold
// the pipe open: the helper gets a moment for what is written, no more.
std::string endCapture(Capture* capture) {
  if (capture->input >= 0) close(capture->input);
  for (int wait = 0; capture->helper > 0 && wait < 10; ++wait) {
    if (waitpid(capture->helper, nullptr, WNOHANG) == capture->helper) capture->helper = -1;
    struct timespec pause = {0, kPollNanoseconds};
    if (capture->helper > 0) nanosleep(&pause, nullptr);
  }
  if (capture->helper > 0) {
    kill(capture->helper, SIGKILL);
    waitpid(capture->helper, nullptr, 0);
  }
  std::string text = capture->kept >= 0 ? firstLines(capture->kept) : std::string();
  if (capture->kept >= 0) close(capture->kept);
  return text;
}

// Why this user cannot start `path` as a program; "" when nothing is
// visibly wrong.
std::string startProblem(const std::string& path) {
  std::string why = whyProgramCannotStart(path, 0, getuid(), getgid());
  // On another system the file may be there and its loader not.
  return why.empty() ? elfInterpreterProblem(path) : why;
}

std::string startFix(const std::string& why, const std::string& path) {
  if (why.find("carriage return") != std::string::npos) {
    return "save " + path + " with LF line ends (sed -i 's/[[:cntrl:]]*$//' FILE)";
  }
  if (why == "no execute permission") return "chmod 755 " + path;
  if (why.find(" not found") != std::string::npos) {
    return "provide what is missing on the system, or make " + path + " do without it";
  }
  return "make " + path + " a program this user can run";
}

// --- The steps, run inside the copy -----------------------------------------------

// Where the launcher would find an agent now: the file it reads, the
// directory named there, the version found and whether it suffices (what
// the launcher decides to install on).
int locateStep(void* context, const std::string&, int out) {
  const CheckReport& check = *static_cast<TrialContext*>(context)->check;
  Settings settings = settingsHere(check);
  AgentInfo agent;
  ProbeTrace trace;
  getInstalledAgentInfo(check.info, check.ini, settings, &agent, &trace);
  std::string text;
  put(&text, "keyFile", trace.keyFile);
  put(&text, "location", agent.refLocation);
  put(&text, "version", agent.refVersion);
  put(&text, "sufficient", isAgentSufficient(agent, check.ini) ? "1" : "0");
  finish(out, &text);
  return 0;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path) == 0 ? 0 : -1;
}

// A clean machine: no location record, and no agent where one named it.
int cleanStep(void*, const std::string& input, int out) {
  Fields fields = parseFields(input);
  std::string text;
  std::string keyFile = field(fields, "keyFile"), location = field(fields, "location");
  struct stat st;
  if (!keyFile.empty() && lstat(keyFile.c_str(), &st) == 0 && unlink(keyFile.c_str()) == 0) {
    put(&text, "hidden", keyFile);
  }
  std::string config = location + "/eclipse/configuration/config.ini";
  if (!location.empty() && location != "/" && isFileExist(config) &&
      nftw(location.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS) == 0) {
    put(&text, "hidden", location);
  }
  finish(out, &text);
  return 0;
}

int installStep(void* context, const std::string&, int out) {
  const CheckReport& check = *static_cast<TrialContext*>(context)->check;
  Settings settings = settingsHere(check);
  std::string text;
  if (check.ini.iniInstallerLocation.empty()) {
    put(&text, "installer", "none");
    finish(out, &text);
    return 0;
  }
  InstallerCommand installer;
  createAgtInstallerArgList(check.info, check.ini, check.cmd, settings, &installer);
  putList(&text, "argv", installer.installerArglist);
  const std::string& image = isMSIFile(check.ini.iniInstallerLocation)
                                 ? installer.msiFile
                                 : installer.InstallerProgram;
  std::string link, target;
  if (linksOutOfPackage(check, image, &link, &target)) {
    // What it points to is not the package's: it neither runs nor is read.
    put(&text, "installer", "outside");
    put(&text, "why", linkOutMessage(link, target));
    finish(out, &text);
    return 0;
  }
  if (!isFileExist(image)) {
    put(&text, "installer", "missing");
    put(&text, "why", startProblem(image));
    finish(out, &text);
    return 0;
  }
  Capture capture;
  bool capturing = startCapture(&capture);
  int savedOut = fcntl(1, F_DUPFD_CLOEXEC, 3), savedErr = fcntl(2, F_DUPFD_CLOEXEC, 3);
  fflush(nullptr);
  if (capturing) {
    dup2(capture.input, 1);
    dup2(capture.input, 2);
  }
  // The launcher's own way of running it: same vector, same environment
  // and language rule, waited for.
  int rc = runProgram(installer.InstallerProgram, installer.installerArglist,
                      childEnvironment(settings.nl, installer.installerEnv));
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  put(&text, "installer", "ran");
  put(&text, "status", std::to_string(rc));
  put(&text, "output", endCapture(&capture));
  if (rc == 255) put(&text, "cannotStart", startProblem(installer.InstallerProgram));
  finish(out, &text);
  return 0;
}

std::string missingOr(const std::string& path, const std::string& otherwise) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return path + " does not exist";
  return otherwise;
}

// As missingOr, but first whether root's rule refused the file, as the
// launcher run by root would.
std::string refusedOr(const ProbeTrace& trace, const std::string& path,
                      const std::string& otherwise) {
  if (!trace.untrustedFile.empty() && trace.untrustedFile == path) {
    return "the launcher, run by root, refuses it: " + trace.untrustedReason;
  }
  return missingOr(path, otherwise);
}

void checkProgram(const CheckReport& check, const Settings& settings,
                  const AgentInfo& agent, bool silent, std::string* text) {
  Settings mode = settings;
  mode.isSilent = silent ? 1 : 0;
  AgentCommand command;
  createAgentArgList(check.ini, check.cmd, mode, agent, &command);
  const char* key = silent ? "LAUNCHER_SILENT" : "LAUNCHER";
  std::string refused;
  bool usable = isAgentProgramUsable(command.AgentProgram, &refused) != 0;
  std::string why = !usable && !refused.empty()
                        ? "the launcher, run by root, refuses it: " + refused
                        : startProblem(command.AgentProgram);
  std::string fix = !refused.empty()
                        ? std::string("make the program and every directory above it root's "
                                      "and writable by no one else")
                    : why == "no such file"
                        ? std::string("install the agent program there, or correct ") + key
                        : startFix(why, command.AgentProgram);
  putItem(text, silent ? "program-silent" : "program", why.empty(),
          std::string(key) + " program " + command.AgentProgram +
              (why.empty() ? ": can be started by this user" : ": " + why),
          fix);
}

void startAgent(const CheckReport& check, const Settings& settings, const AgentInfo& agent,
                int seconds, std::string* text) {
  AgentCommand command;
  createAgentArgList(check.ini, check.cmd, settings, agent, &command);
  putList(text, "agentArgv", command.agentArglist);
  Capture capture;
  startCapture(&capture);
  bool running = false;
  double took = 0;
  int rc = runCaptured(command.AgentProgram, command.agentArglist, capture.input, seconds,
                       &running, &took);
  std::string output = endCapture(&capture);
  put(text, "agentStarted", "1");
  put(text, "agentRunning", running ? "1" : "0");
  put(text, "agentStatus", std::to_string(rc));
  put(text, "agentSeconds", formatText("%.1f", took));
  put(text, "agentOutput", output);
  if (running) {
    putItem(text, "agent-run", true,
            formatText("still running after %d s; the trial ended it", seconds), "");
    return;
  }
  std::string detail = formatText("exited with %d after %.1f s", rc, took);
  if (rc > 128 && rc < 128 + 65) detail = formatText("ended by signal %d after %.1f s", rc - 128, took);
  std::string fix = "see its output; the launcher hands its status to the caller";
  if (rc == 255) {
    std::string why = startProblem(command.AgentProgram);
    if (!why.empty()) {
      detail += ": it cannot start: " + why;
      fix = startFix(why, command.AgentProgram);
    }
  }
  if (rc == 127 && !missingCommand(output).empty()) {
    detail += ": the command " + missingCommand(output) + " was not found";
    fix = "install " + missingCommand(output) + " on the system, or make the agent do without it";
  }
  putItem(text, "agent-run", rc == 0, detail, fix);
}

// The probe as the launcher makes it after the installer, each item of the
// contract, and the agent started as a real run starts it.
int probeStep(void* context, const std::string&, int out) {
  const TrialContext& trial = *static_cast<TrialContext*>(context);
  const CheckReport& check = *trial.check;
  Settings settings = settingsHere(check);
  AgentInfo agent;
  ProbeTrace trace;
  getInstalledAgentInfo(check.info, check.ini, settings, &agent, &trace);
  std::string text;
  put(&text, "location", agent.refLocation);
  put(&text, "version", agent.refVersion);

  std::string source = trace.locationSource == "file" ? "reference file"
                       : trace.keyType == KEY_TYPE_MACHINE
                           ? "location key file (admin mode: the key is the path)"
                           : "location key file (per user, under the home directory)";
  bool hasLocation = !agent.refLocation.empty();
  if (trace.keyFile.empty()) {
    putItem(&text, "location", false,
            trace.locationSource.empty() ? "neither LOCATION_KEY nor LOCATION_FILE is set"
                                         : "the " + source + " has no path here",
            "LOCATION_KEY=<the key file your installer writes>");
  } else {
    putItem(&text, "location", hasLocation,
            "the launcher reads the " + source + " " + trace.keyFile + ": " +
                (hasLocation ? "location=" + agent.refLocation
                             : refusedOr(trace, trace.keyFile, "it holds no location= line")),
            "write location=<agent directory> into " + trace.keyFile);
  }
  if (!hasLocation) {
    finish(out, &text);
    return 0;
  }
  struct stat st;
  bool isDir = stat(agent.refLocation.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  std::string crNote = agent.refLocation.back() == '\r'
                           ? " (it ends with a carriage return: the file has CR LF line ends)"
                           : "";
  putItem(&text, "agent-directory", isDir,
          agent.refLocation + (isDir ? " is a directory" : " is no directory" + crNote),
          crNote.empty() ? "location=<the directory the installer put the agent in>"
                         : "write the location file with LF line ends");
  bool hasData = !trace.appDataDir.empty();
  putItem(&text, "config", hasData,
          trace.configFile + ": " +
              (hasData ? "data location " + trace.appDataDir
                       : refusedOr(trace, trace.configFile,
                                   "it holds no zel.appDataLocation= line with a value")),
          "write zel.appDataLocation=<data directory> into " + trace.configFile);
  if (hasData) {
    const std::string& required = check.ini.iniManagerVersion;
    bool sufficient = isAgentSufficient(agent, check.ini);
    std::string line = std::string("<package id='") + kAgentPackageId + "' version='" +
                       (required.empty() ? std::string("1.0.0") : required) + "'/>";
    std::string detail =
        agent.refVersion.empty()
            ? refusedOr(trace, trace.installedXMLFile, packagesFileWhy(trace.installedXMLFile))
            : "version " + agent.refVersion + (sufficient ? ", at least " : ", lower than ") +
                  "the required " + (required.empty() ? std::string("(any)") : required);
    putItem(&text, "installed-packages", sufficient, trace.installedXMLFile + ": " + detail,
            agent.refVersion.empty()
                ? "write " + line + " into " + trace.installedXMLFile
                : "install an agent of version " + required +
                      " or later, or lower VERSION in [MANAGER]");
  }
  checkProgram(check, settings, agent, false, &text);
  if (!check.ini.iniManagerLauncherSilent.empty()) {
    checkProgram(check, settings, agent, true, &text);
  }
  AgentCommand command;
  createAgentArgList(check.ini, check.cmd, settings, agent, &command);
  if (!isAgentSufficient(agent, check.ini)) {
    putItem(&text, "agent-run", false, "not started: the launcher finds no sufficient agent",
            "mend the items above");
  } else if (!isAgentProgramUsable(command.AgentProgram)) {
    putItem(&text, "agent-run", false,
            "not started: the launcher finds no agent program it may start",
            "mend the program item above");
  } else {
    startAgent(check, settings, agent, trial.agentSeconds, &text);
  }
  finish(out, &text);
  return 0;
}

// The last release, installed as a real run of its launcher installs it:
// same launcher options, same user.
int oldReleaseStep(void* context, const std::string&, int out) {
  const TrialContext& trial = *static_cast<TrialContext*>(context);
  std::vector<std::string> argv = {trial.upgradeFrom};
  argv.insert(argv.end(), trial.check->launcherArgs.begin(), trial.check->launcherArgs.end());
  Capture capture;
  startCapture(&capture);
  bool agentStarted = false;
  // A trial shows no window on the author's desktop.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  int rc = runLauncherUntilAgent(trial.upgradeFrom, argv, capture.input, kInstallerSeconds,
                                 &agentStarted);
  std::string text;
  put(&text, "oldStatus", std::to_string(rc));
  put(&text, "oldAgent", agentStarted ? "1" : "0");
  put(&text, "oldOutput", endCapture(&capture));
  finish(out, &text);
  return 0;
}

// The package's own launcher binary on another system: it starts there only
// with a loader and a C library it was linked for. Its usage text is a run
// that changes nothing.
int launcherStep(void* context, const std::string&, int out) {
  const CheckReport& check = *static_cast<TrialContext*>(context)->check;
  const std::string& path = check.info.launcherFullPath;
  Capture capture;
  startCapture(&capture);
  bool running = false;
  double took = 0;
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  int rc = runCaptured(path, {path, "-help"}, capture.input, kStepSeconds / 2, &running, &took);
  std::string output = endCapture(&capture);
  std::string text;
  std::string why = startProblem(path);
  std::string library = missingLibrary(output);
  if (rc == 0 || running) {
    putItem(&text, "launcher", true, path + " starts on this system", "");
  } else if (!library.empty()) {
    putItem(&text, "launcher", false,
            path + " cannot start: " +
                (library.compare(0, 6, "GLIBC_") == 0
                     ? "the system's C library lacks " + library
                     : "the system lacks the library " + library),
            "build the launcher for the oldest C library you support, or leave this "
            "system out");
  } else {
    putItem(&text, "launcher", false,
            path + formatText(" cannot start (status %d)", rc) + (why.empty() ? "" : ": " + why) +
                (!why.empty() || output.empty()
                     ? std::string()
                     : ": " + trim(output.substr(0, output.find('\n')))),
            why.empty() ? std::string("see its output") : startFix(why, path));
  }
  finish(out, &text);
  return 0;
}

// --- Reading the steps' results --------------------------------------------------

void readItems(const Fields& fields, TrialReport* report) {
  for (size_t i = 0; i + 3 < fields.size(); ++i) {
    if (fields[i].first != "item") continue;
    TrialItem item;
    item.code = fields[i].second;
    item.holds = fields[i + 1].second == "1";
    item.detail = fields[i + 2].second;
    item.fix = fields[i + 3].second;
    report->items.push_back(item);
  }
}

std::vector<std::string> listOf(const Fields& fields, const std::string& key) {
  std::vector<std::string> list;
  for (const auto& f : fields) {
    if (f.first == key) list.push_back(f.second);
  }
  return list;
}

TrialItem installerItem(const Fields& fields, int stepStatus, TrialReport* report) {
  TrialItem item;
  item.code = "installer";
  std::string kind = field(fields, "installer");
  report->installerArgv = listOf(fields, "argv");
  if (kind == "none") {
    item.detail = "no LOCATION in [INSTALLER]: on a clean machine nothing installs the agent";
    item.fix = "LOCATION=<the installer, relative to the launcher's directory>";
    return item;
  }
  if (kind == "missing") {
    std::string why = field(fields, "why");
    item.detail = "the installer " +
                  (report->installerArgv.empty() ? std::string() : report->installerArgv[0]) +
                  ": " + why;
    item.fix = why == "a directory on the path cannot be searched"
                   ? "let every user reach the package (chmod -R a+rX on its directory "
                     "and on the directories above it)"
                   : "put the installer there, or correct LOCATION";
    return item;
  }
  if (kind == "outside") {
    item.detail = "the installer: " + field(fields, "why");
    item.fix = kLinkOutFix;
    return item;
  }
  if (kind != "ran") {
    item.detail = stepStatus == 128 + SIGKILL
                      ? formatText("the installer did not end within %d s", kInstallerSeconds)
                      : "the installer could not be run";
    item.fix = "an installer that ends by itself, without asking anything";
    return item;
  }
  report->installerRan = true;
  report->installerStatus = number(field(fields, "status"));
  report->installerOutput = field(fields, "output");
  int rc = report->installerStatus;
  item.holds = rc == 0;
  item.detail = formatText("exit status %d", rc);
  if (rc == kUserCancelNative) {
    item.detail += ": cancelled by the user, so the launcher ends with 232";
    item.fix = "with -silent, install without asking";
  } else if (rc == 255 && !field(fields, "cannotStart").empty()) {
    std::string why = field(fields, "cannotStart");
    item.detail += ": it cannot start: " + why;
    item.fix = startFix(why, report->installerArgv.empty() ? "the installer"
                                                           : report->installerArgv[0]);
  } else if (rc == 127 && !missingCommand(report->installerOutput).empty()) {
    std::string command = missingCommand(report->installerOutput);
    item.detail += ": the installer could not find the command " + command;
    item.fix = "install " + command + " on the system, or make the installer do without it";
  } else if (rc != 0) {
    item.detail += ": the launcher shows \"Return Code=" + std::to_string(rc) +
                   "\" and ends with it";
    item.fix = "exit 0 once the agent is installed (see the installer's output)";
  }
  return item;
}

// An installer that failed while a scratch file system was full ran out of
// room there: the copy's bound, not the package, may be what failed. One
// that removes what it wrote as it fails may leave no full file system to
// see: its own words then tell.
void noteFullFileSystems(TrialReport* report) {
  bool saidSo = report->installerOutput.find(strerror(ENOSPC)) != std::string::npos;
  if (report->fullFileSystems.empty() && !saidSo) return;
  for (TrialItem& item : report->items) {
    if (item.code != "installer" || item.holds || !report->installerRan) continue;
    std::string paths;
    for (const std::string& path : report->fullFileSystems) {
      paths += (paths.empty() ? " in " : ", ") + path;
    }
    item.detail += formatText("; it ran out of room: no space left on device (ENOSPC)%s, "
                              "%llu MiB each in the copy",
                              paths.c_str(), report->scratchBytes >> 20);
    item.fix = "give the trial more room (--scratch-size SIZE), or let the installer need "
               "less of it";
  }
}

// The refused calls of two steps, once each.
void addRefusedCalls(const SandboxEvents& events, TrialReport* report) {
  for (const std::string& name : events.refusedCalls) {
    if (std::find(report->refusedCalls.begin(), report->refusedCalls.end(), name) ==
        report->refusedCalls.end()) {
      report->refusedCalls.push_back(name);
    }
  }
}

// Where the installer did write a location record, when not where the
// launcher reads: a file it wrote with the same name.
void pointToWrittenLocation(TrialReport* report, const std::string& expected) {
  for (TrialItem& item : report->items) {
    if (item.code != "location" || item.holds || expected.empty()) continue;
    for (const SandboxChange& change : report->changes) {
      if (change.change != '-' && change.type == 'f' && change.path != expected &&
          baseName(change.path) == baseName(expected)) {
        item.detail += "; the installer wrote " + change.path + " instead";
        item.fix = "write the location into " + expected + ", not " + change.path;
        return;
      }
    }
  }
}

// The home directory is the one the run would have: HOME as the identity
// has it, else the password database's.
SandboxIdentity sandboxIdentity(const CheckIdentity& who) {
  SandboxIdentity identity;
  identity.uid = who.uid;
  identity.gid = who.gid;
  identity.groups = who.groups;
  identity.name = who.name;
  if (who.hasHome && isFileAbsolute(who.home)) {
    identity.home = who.home;
  } else {
    struct passwd* entry = getpwuid(who.uid);
    identity.home = entry && entry->pw_dir[0] == '/' ? entry->pw_dir : "";
  }
  while (identity.home.size() > 1 && identity.home.back() == '/') identity.home.pop_back();
  // The root directory cannot be made empty: such a user gets a home of its
  // own.
  if (identity.home.size() < 2) identity.home = "/nonexistent";
  return identity;
}

// What the probe step found, and how the agent ran.
void readProbe(const Fields& probed, TrialReport* report) {
  readItems(probed, report);
  report->agentLocation = field(probed, "location");
  report->agentVersion = field(probed, "version");
  report->agentStarted = field(probed, "agentStarted") == "1";
  report->agentArgv = listOf(probed, "agentArgv");
  report->agentRunning = field(probed, "agentRunning") == "1";
  report->agentStatus = number(field(probed, "agentStatus"));
  report->agentSeconds = strtod(field(probed, "agentSeconds").c_str(), nullptr);
  report->agentOutput = field(probed, "agentOutput");
}

// What the installer did: the changes after it that were not there before
// (the clean machine's removals and the home directory's mount point), by
// path.
std::vector<SandboxChange> changesBetween(const std::vector<SandboxChange>& before,
                                          const std::vector<SandboxChange>& after) {
  std::vector<SandboxChange> changes;
  for (const SandboxChange& change : after) {
    bool old = false;
    bool existed = false;
    for (const SandboxChange& earlier : before) {
      old = old || earlier == change;
      existed = existed || (earlier.path == change.path && earlier.change != '-');
    }
    if (old) continue;
    changes.push_back(change);
    // A file an old release installed and this installer wrote again (in
    // the scratch home every file counts as new to the copy) is changed.
    if (existed && change.change == '+') changes.back().change = '~';
  }
  std::sort(changes.begin(), changes.end(),
            [](const SandboxChange& a, const SandboxChange& b) { return a.path < b.path; });
  return changes;
}

// The old release installed in the copy, and what this package's launcher
// then finds; false when the copy stopped answering.
bool installOldRelease(Sandbox* box, TrialReport* report) {
  std::string output;
  int status = 0;
  TrialUpgrade& upgrade = report->upgradeRun;
  if (sandboxRun(box, oldReleaseStep, true, "", kInstallerSeconds + kStepSeconds, &output,
                 &status) != 0) {
    return false;
  }
  Fields ran = parseFields(output);
  upgrade.oldRan = field(ran, "done") == "1" && field(ran, "oldStatus") != "255";
  upgrade.oldStatus = number(field(ran, "oldStatus"));
  upgrade.oldAgentStarted = field(ran, "oldAgent") == "1";
  upgrade.oldOutput = field(ran, "oldOutput");
  if (sandboxRun(box, locateStep, true, "", kStepSeconds, &output, &status) != 0) return false;
  Fields found = parseFields(output);
  upgrade.beforeLocation = field(found, "location");
  upgrade.beforeVersion = field(found, "version");
  upgrade.beforeSufficient = field(found, "sufficient") == "1";
  return true;
}

TrialItem installerNotRunItem(const TrialUpgrade& upgrade) {
  TrialItem item;
  item.code = "installer";
  item.holds = true;
  item.detail = "not run: the installed agent, version " + upgrade.beforeVersion +
                ", already suffices";
  return item;
}

// An upgrade whose installer left the old agent in place says so: its exit
// status alone looks like success.
void pointToOldVersion(TrialReport* report) {
  const TrialUpgrade& upgrade = report->upgradeRun;
  if (!report->installerRan || upgrade.beforeVersion.empty() ||
      report->agentVersion != upgrade.beforeVersion) {
    return;
  }
  for (TrialItem& item : report->items) {
    if (item.code != "installed-packages" || item.holds) continue;
    item.detail += "; the new installer left the old version in place";
    item.fix = "make the installer replace an installed older agent; " + item.fix;
  }
}

int cannotRun(TrialReport* report, const std::string& why) {
  report->why = why;
  report->verdict = 2;
  return 2;
}

}  // namespace

int runTrial(const TrialOptions& options, const CheckIdentity& who, const CheckReport& check,
             TrialReport* report) {
  SandboxIdentity identity = sandboxIdentity(who);
  std::string why;
  report->uid = identity.uid;
  report->user = who.name;
  report->home = identity.home;
  report->sharedNetwork = options.shareNetwork;
  report->scratchBytes = options.scratchBytes;
  struct stat home;
  report->homeOnMachine = stat(identity.home.c_str(), &home) == 0 && S_ISDIR(home.st_mode);
  // Without root, a user namespace maps the caller alone.
  if (geteuid() != 0 && identity.uid != getuid()) {
    return cannotRun(report, identity.uid == 0
                                 ? "a trial as root needs root: run launcher-check as root"
                                 : "a trial as another user needs root: run launcher-check as root");
  }
  if (!check.iniRead) {
    // The launcher stops there, on any machine: the dry run says why.
    TrialItem item;
    item.code = "ini-file";
    item.detail = "the launcher cannot read " + check.iniPath + ": every run ends with status 1";
    item.fix = "put the INI file beside the launcher, readable by every user";
    for (const CheckProblem& problem : check.problems) {
      if (problem.code.compare(0, 4, "ini-") != 0) continue;
      item.detail = problem.message;
      item.fix = problem.fix;
      break;
    }
    report->items.push_back(item);
    report->verdict = 1;
    return 1;
  }
  if (check.help) {
    return cannotRun(report, "the launcher options hold a help or version form: a run only "
                             "answers it and installs nothing");
  }

  SandboxOptions sandboxOptions;
  sandboxOptions.user = identity;
  char* cwd = getcwd(nullptr, 0);
  if (cwd) sandboxOptions.workDir = cwd;
  free(cwd);
  sandboxOptions.keepDir = check.info.launcherDir;
  sandboxOptions.shareNetwork = options.shareNetwork;
  sandboxOptions.scratchBytes = options.scratchBytes;
  TrialContext context{&check, options.agentSeconds, options.upgradeFrom};
  sandboxOptions.lowerRoot = options.system;
  if (!options.upgradeFrom.empty()) sandboxOptions.alsoShow = {dirName(options.upgradeFrom)};
  report->system = options.system;
  report->upgradeRun.from = options.upgradeFrom;
  Sandbox box;
  if (sandboxSetUp(sandboxOptions, &context, &box, &why) != 0) {
    return cannotRun(report, "no throwaway copy of this machine: " + why);
  }
  report->readOnly = box.readOnly;
  std::string output;
  int status = 0;
  std::vector<SandboxChange> before, after;
  bool answered = sandboxRun(&box, locateStep, true, "", kStepSeconds, &output, &status) == 0;
  if (answered && status == 125) {
    sandboxTearDown(&box);
    return cannotRun(report, trim(output));
  }
  Fields located = parseFields(output);
  answered = answered && field(located, "done") == "1";
  std::string cleanInput;
  put(&cleanInput, "keyFile", field(located, "keyFile"));
  put(&cleanInput, "location", field(located, "location"));
  answered = answered &&
             sandboxRun(&box, cleanStep, false, cleanInput, kStepSeconds, &output, &status) == 0;
  report->hidden = listOf(parseFields(output), "hidden");
  Fields launcherRun;
  if (!options.system.empty()) {
    answered = answered &&
               sandboxRun(&box, launcherStep, true, "", kStepSeconds, &output, &status) == 0;
    launcherRun = parseFields(output);
  }
  if (isUpgrade(*report)) answered = answered && installOldRelease(&box, report);
  answered = answered && sandboxChanges(&box, &before) == 0;

  int installStatus = 0;
  // As the launcher decides: an agent that suffices is not installed again.
  bool installs = !isUpgrade(*report) || !report->upgradeRun.beforeSufficient;
  answered = answered && (!installs || sandboxRun(&box, installStep, true, "", kInstallerSeconds,
                                                  &output, &installStatus) == 0);
  Fields installed = parseFields(installs ? output : std::string());
  answered = answered && sandboxChanges(&box, &after) == 0;
  SandboxEvents installEvents, probeEvents;
  answered = answered && sandboxEvents(&box, &installEvents) == 0;
  answered = answered && sandboxRun(&box, probeStep, true, "",
                                    options.agentSeconds + kStepSeconds, &output, &status) == 0;
  answered = answered && sandboxEvents(&box, &probeEvents) == 0;
  sandboxTearDown(&box);
  if (!answered) {
    return cannotRun(report, "the throwaway copy of this machine stopped answering, or a "
                             "step in it was stopped");
  }

  report->changes = changesBetween(before, after);
  TrialItem ini;
  ini.code = "ini-file";
  ini.holds = true;
  ini.detail = check.iniPath + " can be read";
  report->items.push_back(ini);
  readItems(launcherRun, report);
  report->items.push_back(installs ? installerItem(installed, installStatus, report)
                                   : installerNotRunItem(report->upgradeRun));
  report->fullFileSystems = installEvents.fullFileSystems;
  noteFullFileSystems(report);
  addRefusedCalls(installEvents, report);
  addRefusedCalls(probeEvents, report);
  Fields probed = parseFields(output);
  if (field(probed, "done") != "1") {
    return cannotRun(report, formatText("the trial was stopped before it ended (status %d)", status));
  }
  readProbe(probed, report);
  pointToWrittenLocation(report, field(located, "keyFile"));
  if (isUpgrade(*report)) pointToOldVersion(report);
  report->verdict = 0;
  const CheckProblem* cause = firstCause(check);
  for (TrialItem& item : report->items) {
    if (item.holds) continue;
    report->verdict = 1;
    // Mending what an item shows would miss what spoiled it.
    if (cause) item.fix = cause->fix + " (the cause: " + cause->code + ")";
  }
  return report->verdict;
}

// --- Output ------------------------------------------------------------------------

namespace {

// The items in the order they are checked.
const char* const kItemCodes[] = {"ini-file", "launcher", "installer", "location",
                                  "agent-directory", "config", "installed-packages",
                                  "program", "program-silent", "agent-run"};

const TrialItem* findItem(const TrialReport& report, const char* code) {
  for (const TrialItem& item : report.items) {
    if (item.code == code) return &item;
  }
  return nullptr;
}

std::string who(const TrialReport& report) {
  return formatText("%s (uid %u)", escapedText(report.user).c_str(), report.uid);
}

std::string matrixLine(const std::string& label, const std::vector<std::string>& cells) {
  std::string line = formatText("%-20s", label.c_str());
  for (const std::string& cell : cells) line += formatText("  %-20s", cell.c_str());
  line.erase(line.find_last_not_of(' ') + 1);
  return line + "\n";
}

std::string changeLine(const SandboxChange& change) {
  const char* what = change.change == '+' ? "created" : change.change == '~' ? "changed" : "removed";
  std::string size = change.type == 'd'   ? "directory"
                     : change.type == 'l' ? "link"
                     : change.change == '-' ? ""
                                            : formatText("%lld bytes", change.size);
  return formatText("    %-8s %s%s%s\n", what, escapedText(change.path).c_str(),
                    size.empty() ? "" : "  ",
                    size.c_str());
}

std::string trialText(const TrialReport& report) {
  std::string out = "\nTrial as " + who(report) + " on a throwaway copy of " +
                    (report.system.empty() ? std::string("this machine") : escapedText(report.system)) +
                    "\n";
  if (report.verdict == 2) return out + "  Cannot run: " + escapedText(report.why) + "\n";
  if (!report.system.empty()) {
    out += "  System: " + escapedText(report.system) + " (the copy's lower layer, never written)\n";
  }
  out += "  Home directory: " + escapedText(report.home) +
         (report.homeOnMachine ? " (empty, thrown away)\n"
                               : " (empty, thrown away; this machine has no such directory)\n");
  for (const std::string& hidden : report.hidden) {
    out += "  Removed first, for a clean machine: " + escapedText(hidden) + "\n";
  }
  if (isUpgrade(report)) out += upgradeText(report.upgradeRun, report.installerRan);
  for (const std::string& path : report.readOnly) {
    out += "  Read-only in the copy (writes there fail, unlike on this machine): " +
           escapedText(path) + "\n";
  }
  out += report.sharedNetwork ? "  Network: this machine's (--network)\n"
                              : "  Network: none but loopback, of its own (--network shares "
                                "this machine's)\n";
  if (!report.installerArgv.empty()) {
    out += "  The installer ran:\n";
    for (size_t i = 0; i < report.installerArgv.size(); ++i) {
      out += formatText("      argv[%zu] = ", i) + shown(report.installerArgv[i]) + "\n";
    }
  }
  if (!report.installerOutput.empty()) {
    out += "    its output (first lines):\n" + escapedLines(report.installerOutput, "      | ");
  }
  out += "  Contract:\n";
  for (const TrialItem& item : report.items) {
    out += std::string("    ") + (item.holds ? "ok    " : "FAILS ") + item.code + ": " +
           escapedText(item.detail) + "\n";
    if (!item.holds) out += "          fix: " + escapedText(item.fix) + "\n";
  }
  if (report.agentStarted) {
    out += "  The agent ran:\n";
    for (size_t i = 0; i < report.agentArgv.size(); ++i) {
      out += formatText("      argv[%zu] = ", i) + shown(report.agentArgv[i]) + "\n";
    }
    if (!report.agentOutput.empty()) {
      out += "    its output (first lines):\n" + escapedLines(report.agentOutput, "      | ");
    }
  }
  // Without a readable INI file nothing ran.
  if (report.items.size() < 2) return out + "  Verdict: fails\n";
  if (!report.refusedCalls.empty()) {
    std::string names;
    for (const std::string& name : report.refusedCalls) names += (names.empty() ? "" : ", ") + name;
    out += "  System calls the copy refused (EPERM), as a container does: " + names + "\n";
  }
  out += "  Files the installer created, changed or removed (paths of " +
         (report.system.empty() ? std::string("this machine") : escapedText(report.system)) + "):\n";
  if (report.changes.empty()) out += "    none\n";
  for (const SandboxChange& change : report.changes) out += changeLine(change);
  out += report.verdict == 0 ? "  Verdict: every item holds\n" : "  Verdict: fails\n";
  return out;
}

// The trial that ran `row`, else trials.size().
size_t trialOfRow(const std::vector<TrialReport>& trials, size_t row) {
  size_t i = 0;
  while (i < trials.size() && trials[i].row != row) ++i;
  return i;
}

// What decides a row: its trial, when one ran it; with --strict a warning
// fails it either way.
int rowVerdict(const CheckReport& row, const TrialReport* trial, bool strict) {
  int predicted = checkVerdict({row}, strict);
  if (!trial) return predicted;
  bool warned = strict && countProblems(row, CHECK_WARNING) > 0;
  return trial->verdict == 0 && warned ? 1 : trial->verdict;
}

std::string jsonList(const std::vector<std::string>& list) {
  std::string out = "[";
  for (size_t i = 0; i < list.size(); ++i) out += (i ? ", " : "") + jsonString(list[i]);
  return out + "]";
}

std::string trialJson(const TrialReport& r) {
  std::string out = "\n    {\"row\": " + std::to_string(r.row) +
                    ", \"predicted\": " + (r.predictedFails ? "\"fails\"" : "\"works\"") +
                    ", \"contradicted\": " + (r.contradicted ? "true" : "false") +
                    ",\n     \"user\": " + jsonString(r.user) + ", \"uid\": " +
                    std::to_string(r.uid) + ", \"home\": " + jsonString(r.home) +
                    ", \"homeOnMachine\": " + (r.homeOnMachine ? "true" : "false") +
                    ", \"verdict\": " + std::to_string(r.verdict) + ", \"why\": " +
                    jsonString(r.why) + ",\n     \"hidden\": " + jsonList(r.hidden) +
                    ", \"readOnly\": " + jsonList(r.readOnly) + ",\n     \"system\": " +
                    (r.system.empty() ? std::string("null") : jsonString(r.system)) +
                    ", \"upgrade\": " +
                    (isUpgrade(r) ? upgradeJson(r.upgradeRun, r.installerRan) : std::string("null")) +
                    ",\n";
  out += std::string("     \"network\": ") + (r.sharedNetwork ? "\"machine\"" : "\"loopback\"") +
         ", \"scratchSize\": " + std::to_string(r.scratchBytes) +
         ", \"refusedCalls\": " + jsonList(r.refusedCalls) +
         ", \"fullFileSystems\": " + jsonList(r.fullFileSystems) + ",\n";
  out += "     \"installer\": {\"ran\": " + std::string(r.installerRan ? "true" : "false") +
         ", \"argv\": " + jsonList(r.installerArgv) + ", \"status\": " +
         (r.installerRan ? std::to_string(r.installerStatus) : std::string("null")) +
         ", \"output\": " + jsonString(r.installerOutput) + "},\n     \"items\": [";
  for (size_t i = 0; i < r.items.size(); ++i) {
    const TrialItem& item = r.items[i];
    out += std::string(i ? ",\n       " : "\n       ") + "{\"code\": " + jsonString(item.code) +
           ", \"holds\": " + (item.holds ? "true" : "false") +
           ", \"detail\": " + jsonString(item.detail) + ", \"fix\": " + jsonString(item.fix) + "}";
  }
  out += "],\n     \"agentLocation\": " + jsonString(r.agentLocation) +
         ", \"agentVersion\": " + jsonString(r.agentVersion) + ",\n";
  out += "     \"agent\": {\"started\": " + std::string(r.agentStarted ? "true" : "false") +
         ", \"argv\": " + jsonList(r.agentArgv) + ", \"running\": " +
         (r.agentRunning ? "true" : "false") + ", \"status\": " +
         (r.agentStarted && !r.agentRunning ? std::to_string(r.agentStatus) : std::string("null")) +
         ", \"seconds\": " + formatText("%.1f", r.agentSeconds) +
         ", \"output\": " + jsonString(r.agentOutput) + "},\n     \"changes\": [";
  for (size_t i = 0; i < r.changes.size(); ++i) {
    const SandboxChange& c = r.changes[i];
    const char* change = c.change == '+' ? "created" : c.change == '~' ? "changed" : "removed";
    const char* type = c.type == 'd' ? "directory" : c.type == 'l' ? "link"
                       : c.type == 'f' ? "file" : "other";
    out += std::string(i ? ",\n       " : "\n       ") + "{\"path\": " + jsonString(c.path) +
           ", \"change\": \"" + change + "\", \"type\": \"" + type +
           "\", \"size\": " + std::to_string(c.size) + "}";
  }
  return out + "]}";
}

}  // namespace

std::string formatTrialText(const std::vector<TrialReport>& trials) {
  std::string out;
  for (const TrialReport& report : trials) out += trialText(report);
  if (trials.size() < 2) return out;
  // One column per user, one row per item: as wide as the users, not the
  // items.
  std::vector<std::string> users, verdicts;
  for (const TrialReport& report : trials) {
    users.push_back(who(report));
    verdicts.push_back(report.verdict == 0 ? "works" : report.verdict == 1 ? "fails" : "cannot run");
  }
  out += "\n" + matrixLine("Trial matrix", users);
  for (const char* code : kItemCodes) {
    // Only a trial on another system starts the launcher binary itself.
    bool anySystem = false;
    for (const TrialReport& report : trials) anySystem = anySystem || !report.system.empty();
    if (!anySystem && strcmp(code, "launcher") == 0) continue;
    std::vector<std::string> cells;
    for (const TrialReport& report : trials) {
      const TrialItem* item = findItem(report, code);
      cells.push_back(report.verdict == 2 ? "-" : !item ? "n/a" : item->holds ? "ok" : "FAILS");
    }
    out += matrixLine(std::string("  ") + code, cells);
  }
  return out + matrixLine("  verdict", verdicts);
}

int trialVerdict(const std::vector<CheckReport>& rows, std::vector<TrialReport>* trials,
                 bool strict) {
  int verdict = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    size_t at = trialOfRow(*trials, i + 1);
    TrialReport* trial = at < trials->size() ? &(*trials)[at] : nullptr;
    if (trial) {
      // The prediction is the dry run's errors; --strict's warnings are
      // risks a trial cannot contradict. A run the dry run calls working
      // still rests on the installer and the agent doing their part, so
      // only a failure the trial does not see is the tool's fault.
      trial->predictedFails = countProblems(rows[i], CHECK_ERROR) > 0;
      trial->contradicted = trial->predictedFails && trial->verdict == 0;
    }
    verdict = std::max(verdict, rowVerdict(rows[i], trial, strict));
  }
  return verdict;
}

std::string formatVerdictText(const std::vector<CheckReport>& rows,
                              const std::vector<TrialReport>& trials, bool strict,
                              int verdict) {
  std::string out = "\nVerdict (a trial decides the row it ran, the dry run the others):\n";
  int width = asColumnWidth(rows);
  out += formatText("   %-*s %-8s %-10s %-10s %s\n", width, "As", "Machine", "Predicted", "Trial",
                    "Verdict");
  bool contradicted = false;
  for (size_t i = 0; i < rows.size(); ++i) {
    size_t at = trialOfRow(trials, i + 1);
    const TrialReport* trial = at < trials.size() ? &trials[at] : nullptr;
    int predicted = checkVerdict({rows[i]}, strict);
    std::string tried = !trial ? "-" : trial->verdict == 0 ? "works"
                                   : trial->verdict == 1   ? "fails"
                                                           : "cannot run";
    int row = rowVerdict(rows[i], trial, strict);
    std::string line = formatText(
        "%zu  %-*s %-8s %-10s %-10s %s", i + 1, width,
        escapedText(identityText(rows[i].identity)).c_str(), rows[i].clean ? "clean" : "here",
        predicted == 0 ? "works" : "fails", tried.c_str(),
        row == 0 ? "works" : row == 1 ? "FAILS" : "no trial");
    if (trial && trial->contradicted) {
      contradicted = true;
      line += "  (predicted: fails; trial: works)";
    }
    out += line + "\n";
  }
  if (contradicted) {
    out += "The dry run's prediction and the trial disagree: that is a fault of launcher-check.\n"
           "Please report it, with the package; the trial's word counts.\n";
  }
  return out + formatText("Exit status: %d\n", verdict);
}

std::string formatTrialJson(const std::vector<TrialReport>& trials) {
  std::string out = "[";
  for (size_t i = 0; i < trials.size(); ++i) out += (i ? "," : "") + trialJson(trials[i]);
  return out + (trials.empty() ? "]" : "\n  ]");
}
