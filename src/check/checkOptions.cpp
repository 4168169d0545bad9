#include "checkOptions.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "commands.h"
#include "settings.h"
#include "utilities.h"
#include "utilitiesLinux.h"

namespace {

struct ArgActions {
  std::vector<CmdArgAction> actions;  // one per launcher option, by index
};

void noteArg(int index, CmdArgAction action, void* context) {
  std::vector<CmdArgAction>& actions = static_cast<ArgActions*>(context)->actions;
  // Index 0 is the launcher's own path.
  if (index >= 1 && static_cast<size_t>(index) <= actions.size()) {
    actions[static_cast<size_t>(index) - 1] = action;
  }
}

// What the parser did with each of the run's options; CMD_ARG_IGNORED
// stands for the arguments after a help form, which it never reads.
std::vector<CmdArgAction> argActions(const CheckReport& report) {
  std::vector<std::string> argvText = {report.info.launcherFullPath};
  argvText.insert(argvText.end(), report.launcherArgs.begin(), report.launcherArgs.end());
  std::vector<char*> argv;
  argv.reserve(argvText.size() + 1);
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  ArgActions actions;
  actions.actions.assign(report.launcherArgs.size(), CMD_ARG_IGNORED);
  CmdlineListener listener{noteArg, &actions};
  CmdSettings cmd;
  parseCmdlineArg(static_cast<int>(argvText.size()), argv.data(), &cmd, &listener);
  return actions.actions;
}

bool isLetters(const std::string& text, size_t from, size_t to, bool digits) {
  for (size_t i = from; i < to; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!isalpha(c) && !(digits && isdigit(c))) return false;
  }
  return to > from;
}

// A language as LANG and the agent's -nl take it: a two- or three-letter
// language, then optionally a region (_DE or -DE), a code set (.UTF-8) and a
// modifier (@euro); or C or POSIX.
bool isLanguageTag(const std::string& text) {
  if (text == "C" || text == "POSIX") return true;
  size_t end = text.find_first_of("_-.@");
  if (end == std::string::npos) end = text.size();
  if (end < 2 || end > 3 || !isLetters(text, 0, end, false)) return false;
  if (end < text.size() && (text[end] == '_' || text[end] == '-')) {
    size_t regionEnd = text.find_first_of(".@", end + 1);
    if (regionEnd == std::string::npos) regionEnd = text.size();
    if (regionEnd - end - 1 > 8 || !isLetters(text, end + 1, regionEnd, true)) return false;
    end = regionEnd;
  }
  if (end < text.size() && text[end] == '.') {
    size_t setEnd = text.find('@', end + 1);
    if (setEnd == std::string::npos) setEnd = text.size();
    if (setEnd == end + 1) return false;
    end = setEnd;
  }
  return end == text.size() || (text[end] == '@' && end + 1 < text.size());
}

void checkIgnoredOptions(CheckReport* report) {
  const std::vector<std::string>& args = report->launcherArgs;
  const std::vector<CmdArgAction> actions = argActions(*report);
  const std::vector<std::string> known = launcherOptionNames();
  bool afterHelp = false;
  for (size_t i = 0; i < args.size() && !afterHelp; ++i) {
    const std::string& arg = args[i];
    bool isOption = std::find(known.begin(), known.end(), arg) != known.end();
    switch (actions[i]) {
      case CMD_ARG_HELP:
        afterHelp = true;
        break;
      case CMD_ARG_TO_AGENT:
      case CMD_ARG_TO_INSTALLER:
        if (!isOption || arg == "-installerArgs" || arg == "-managerArgs") break;
        addProblem(report, std::string(), 0, CHECK_WARNING, "option-collected",
                   arg + " comes after " +
                       (actions[i] == CMD_ARG_TO_AGENT ? "-managerArgs" : "-installerArgs") +
                       ": the launcher hands it to the " +
                       (actions[i] == CMD_ARG_TO_AGENT ? "agent" : "installer") +
                       " as an argument and does not read it itself",
                   "put " + arg + " before -managerArgs and -installerArgs");
        break;
      case CMD_ARG_NO_VALUE:
        addProblem(report, std::string(), 0, CHECK_WARNING, "option-without-value",
                   arg + " is the last argument: it has no value, so the launcher "
                         "ignores it",
                   arg + " VALUE");
        break;
      case CMD_ARG_IGNORED: {
        // The launcher answers these itself before anything else.
        if (arg == "--version" || arg == "-version") break;
        std::string nearest = nearestText(arg, known);
        addProblem(report, std::string(), 0, CHECK_WARNING, "unknown-option",
                   shown(arg) + " is no launcher option (options are compared "
                                "exactly, case included): the launcher ignores it",
                   nearest.empty() ? "remove it, or put it after -managerArgs to "
                                     "hand it to the agent"
                                   : nearest);
        break;
      }
      case CMD_ARG_OPTION:
      case CMD_ARG_VALUE:
      case CMD_ARG_COLLECT:
        break;
    }
  }
}

void checkLanguage(const KeyLines& keyLine, CheckReport* report) {
  const std::string& nl = report->settings.nl;
  if (nl.empty() || isLanguageTag(nl)) return;
  bool fromOption = !report->cmd.argNL.empty();
  addProblem(report, fromOption ? std::string() : report->iniPath,
             fromOption ? 0 : lineOf(keyLine, "NL"), CHECK_WARNING, "bad-language",
             std::string(fromOption ? "-nl " : "NL=") + nl +
                 " is no language tag: the installer gets LANG=" + nl +
                 " and the agent -nl " + nl + ", which name no language",
             std::string(fromOption ? "-nl " : "NL=") +
                 "<a language tag such as en, de or pt_BR>");
}

void checkLog(CheckReport* report) {
  if (!report->cmd.isDebug) return;
  std::string path = report->cmd.argLogFile;
  // A relative log lies in the run's working directory: this one.
  if (!isFileAbsolute(path)) {
    char* cwd = getcwd(nullptr, 0);
    if (cwd) path = std::string(cwd) + "/" + path;
    free(cwd);
  }
  std::string why = path.empty() ? std::string("an empty name")
                                 : writeProblem(report->identity, path);
  if (why.empty()) return;
  addProblem(report, std::string(), 0, CHECK_WARNING, "log-not-writable",
             "-log " + report->cmd.argLogFile + ": " + why +
                 "; the run goes on without a log",
             "-log <a file in a directory " + identityText(report->identity) +
                 " may write>");
}

// An argument with a blank gains double quotes on its way, which no shell
// removes: the program on the other side receives them.
void checkQuotedArgs(const std::vector<std::string>& source,
                     const std::vector<std::string>& composed, bool fromOption,
                     const char* who, CheckReport* report) {
  for (const std::string& arg : source) {
    if (std::find(composed.begin(), composed.end(), arg) != composed.end() ||
        std::find(composed.begin(), composed.end(), "\"" + arg + "\"") == composed.end()) {
      continue;
    }
    addProblem(report, fromOption ? std::string() : report->iniPath, 0, CHECK_WARNING,
               "quoted-argument",
               "the argument " + shown(arg) + " holds a blank, so the " + who +
                   " receives it wrapped in double quotes, as " +
                   shown("\"" + arg + "\"") +
                   ": the launcher quotes such values for programs that expect "
                   "them quoted, and no shell removes the quotes",
               std::string("make the ") + who +
                   " remove the quotes, or pass the value without blanks");
  }
}

}  // namespace

void checkOptions(const KeyLines& keyLine, CheckReport* report) {
  checkIgnoredOptions(report);
  checkLanguage(keyLine, report);
  checkLog(report);
  const IniSettings& ini = report->ini;
  const CmdSettings& cmd = report->cmd;
  AgentInfo anywhere;
  anywhere.refLocation = "/";
  AgentCommand agent;
  createAgentArgList(ini, cmd, report->settings, anywhere, &agent);
  bool agentFromOption = !cmd.argManagerArgs.empty();
  checkQuotedArgs(agentFromOption ? cmd.argManagerArgs : ini.iniManagerArgs,
                  agent.agentArglist, agentFromOption, "agent", report);
  if (!ini.iniInstallerLocation.empty()) {
    InstallerCommand installer;
    createAgtInstallerArgList(report->info, ini, cmd, report->settings, &installer);
    bool installerFromOption = !cmd.argInstallerArgs.empty();
    checkQuotedArgs(installerFromOption ? cmd.argInstallerArgs : ini.iniInstallerArgs,
                    installer.installerArglist, installerFromOption, "installer", report);
  }
}
