#include "checkOutput.h"

#include <algorithm>

#include "checkEscape.h"
#include "checkRun.h"
#include "launcherVersion.h"
#include "utilities.h"

namespace {

const int kJsonSchemaVersion = 1;

const char* severityName(CheckSeverity severity) {
  return severity == CHECK_ERROR ? "error" : "warning";
}

std::string problemLocation(const CheckProblem& problem) {
  if (problem.file.empty()) return "command line";
  if (problem.line == 0) return problem.file;
  return problem.file + ":" + std::to_string(problem.line);
}

void appendArgv(std::string* out, const std::vector<std::string>& argv) {
  for (size_t i = 0; i < argv.size(); ++i) {
    *out += formatText("      argv[%zu] = ", i) + shown(argv[i]) + "\n";
  }
}

std::string jsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    out += (i ? ", " : "") + jsonString(items[i]);
  }
  return out + "]";
}

std::string jsonBool(bool value) { return value ? "true" : "false"; }

std::string jsonProblems(const CheckReport& report) {
  std::string out = "[";
  for (size_t i = 0; i < report.problems.size(); ++i) {
    const CheckProblem& p = report.problems[i];
    out += std::string(i ? "," : "") + "\n    {\"file\": " + jsonString(p.file) +
           ", \"line\": " + std::to_string(p.line) + ", \"severity\": \"" +
           severityName(p.severity) + "\", \"code\": " + jsonString(p.code) +
           ",\n     \"message\": " + jsonString(p.message) +
           ",\n     \"fix\": " + jsonString(p.fix) + ",\n     \"consequences\": [";
    for (size_t c = 0; c < p.consequences.size(); ++c) {
      const CheckConsequence& consequence = p.consequences[c];
      out += std::string(c ? ", " : "") + "{\"severity\": \"" +
             severityName(consequence.severity) + "\", \"code\": " +
             jsonString(consequence.code) + ", \"message\": " + jsonString(consequence.message) +
             "}";
    }
    out += "]}";
  }
  return out + (report.problems.empty() ? "]" : "\n  ]");
}

std::string jsonRun(const CheckReport& report) {
  std::string out = "{\n    \"help\": " + jsonBool(report.help) + ",\n    \"settings\": [";
  for (size_t i = 0; i < report.effective.size(); ++i) {
    const CheckSetting& s = report.effective[i];
    out += std::string(i ? "," : "") + "\n      {\"name\": " + jsonString(s.name) +
           ", \"value\": " + jsonString(s.value) +
           ", \"source\": " + jsonString(s.source) + "}";
  }
  out += report.effective.empty() ? "],\n" : "\n    ],\n";
  out += "    \"probe\": [";
  for (size_t i = 0; i < report.looks.size(); ++i) {
    const CheckLook& l = report.looks[i];
    out += std::string(i ? "," : "") + "\n      {\"kind\": " + jsonString(l.kind) +
           ", \"what\": " + jsonString(l.what) +
           ", \"path\": " + jsonString(l.path) + ", \"found\": " + jsonBool(l.found) +
           ", \"value\": " + jsonString(l.value) + ", \"why\": " + jsonString(l.why) + "}";
  }
  out += report.looks.empty() ? "],\n" : "\n    ],\n";
  out += "    \"agentLocation\": " + jsonString(report.agent.refLocation) +
         ",\n    \"agentVersion\": " + jsonString(report.agent.refVersion) +
         ",\n    \"requiredVersion\": " + jsonString(report.ini.iniManagerVersion) +
         ",\n    \"sufficient\": " + jsonBool(report.sufficient) + ",\n";
  out += "    \"installer\": ";
  if (report.installerRuns) {
    out += "{\"program\": " + jsonString(report.installer.InstallerProgram) +
           ", \"argv\": " + jsonArray(report.installer.installerArglist) +
           ", \"environment\": " + jsonArray(report.installer.installerEnv) +
           ", \"lang\": " + jsonString(report.settings.nl) + "},\n";
  } else {
    out += "null,\n";
  }
  out += "    \"agent\": ";
  if (report.agentKnown || report.agentPredicted) {
    out += "{\"afterInstall\": " + jsonBool(report.agentPredicted) +
           ", \"program\": " + jsonString(report.agentCommand.AgentProgram) +
           ", \"argv\": " + jsonArray(report.agentCommand.agentArglist) +
           ", \"start\": \"" + (report.agentWaited ? "wait" : "exec") + "\"},\n";
  } else {
    out += "null,\n";
  }
  out += "    \"contract\": [";
  for (size_t i = 0; i < report.contract.size(); ++i) {
    out += std::string(i ? ", " : "") + "{\"path\": " + jsonString(report.contract[i].path) +
           ", \"holds\": " + jsonString(report.contract[i].holds) + "}";
  }
  out += "],\n    \"fails\": " + jsonBool(report.runFails) + ",\n";
  out += "    \"end\": {\"status\": " +
         (report.endStatus < 0 ? std::string("null") : std::to_string(report.endStatus)) +
         ", \"text\": " + jsonString(report.endText) + "}\n  }";
  return out;
}

std::string jsonIdentity(const CheckReport& report) {
  const CheckIdentity& id = report.identity;
  return "{\"name\": " + jsonString(id.name) + ", \"uid\": " + std::to_string(id.uid) +
         ", \"home\": " + (id.hasHome ? jsonString(id.home) : std::string("null")) +
         ", \"caller\": " + jsonBool(id.caller) + "}";
}

// The fields that differ from one identity or machine to the next.
std::string jsonReportBody(const CheckReport& report) {
  std::string out;
  out += "  \"identity\": " + jsonIdentity(report) + ",\n";
  out += "  \"clean\": " + jsonBool(report.clean) + ",\n";
  out += "  \"errors\": " + std::to_string(countProblems(report, CHECK_ERROR)) + ",\n";
  out += "  \"warnings\": " + std::to_string(countProblems(report, CHECK_WARNING)) + ",\n";
  out += "  \"problems\": " + jsonProblems(report) + ",\n";
  out += "  \"run\": " + jsonRun(report);
  return out;
}

std::string machineText(const CheckReport& report) {
  return report.clean ? "a clean machine (no agent installed)" : "this machine as it is";
}

std::string asText(const CheckReport& report) {
  const CheckIdentity& id = report.identity;
  return escapedText(identityText(id) + ", " +
                     (id.hasHome ? "HOME=" + id.home : std::string("no HOME"))) +
         "; " + machineText(report);
}

void appendProblem(std::string* out, const CheckProblem& p, const std::string& rows) {
  *out += "  " + rows + escapedText(problemLocation(p)) + ": " + severityName(p.severity) +
          ": " + escapedText(p.message) + "\n      instead: " + escapedText(p.fix) + "\n";
}

// The end in a few words, for one cell of the table.
std::string shortEnd(const CheckReport& report) {
  if (report.runFails) {
    std::string end = report.endStatus < 0 ? std::string("fails")
                                           : formatText("fails, exit status %d", report.endStatus);
    for (const CheckProblem& p : report.problems) {
      if (p.severity == CHECK_ERROR && p.code != "run-fails") return end + ": " + p.code;
    }
    return end;
  }
  if (report.help) return "usage, exit status 0";
  std::string errors;
  for (const CheckProblem& p : report.problems) {
    if (p.severity == CHECK_ERROR) errors += (errors.empty() ? "" : ", ") + p.code;
  }
  if (!errors.empty()) return "cannot work as written: " + errors;
  if (report.agentKnown) return "the agent " + escapedText(report.agent.refVersion) + " starts";
  if (report.installerRuns) return "the installer runs, then the agent starts";
  return "see the report";
}

std::string header(const CheckReport& report) {
  std::string out = "launcher-check " LAUNCHER_VERSION "\n";
  out += "Launcher: " + escapedText(report.info.launcherFullPath) + "\n";
  std::string options;
  for (const std::string& arg : report.launcherArgs) options += " " + shown(arg);
  out += "Options:" + (options.empty() ? std::string(" (none)") : options) + "\n";
  return out;
}

}  // namespace

int checkVerdict(const std::vector<CheckReport>& reports, bool strict) {
  for (const CheckReport& report : reports) {
    if (countProblems(report, CHECK_ERROR) > 0) return 1;
    if (strict && countProblems(report, CHECK_WARNING) > 0) return 1;
  }
  return 0;
}

std::string formatCheckText(const CheckReport& report) {
  std::string out = header(report);
  out += "As: " + asText(report) + "\n\n";

  out += "Problems: " + plural(countProblems(report, CHECK_ERROR), "error") + ", " +
         plural(countProblems(report, CHECK_WARNING), "warning") + "\n";
  for (const CheckProblem& p : report.problems) appendProblem(&out, p, "");

  out += "\nWhat a run would do here\n";
  out += "  Launcher directory: " + escapedText(report.info.launcherDir) + "\n";
  out += "  INI file: " + escapedText(report.iniPath) + (report.iniRead ? "" : " (cannot be read)") + "\n";
  if (!report.effective.empty()) out += "  Effective settings:\n";
  for (const CheckSetting& s : report.effective) {
    out += formatText("    %-26s ", s.name.c_str()) + (!s.plain ? shown(s.value) : s.value.empty() ? "none" : escapedText(s.value)) +
           "  (" + s.source + ")\n";
  }
  if (!report.looks.empty()) out += "  Looking for the agent:\n";
  for (const CheckLook& look : report.looks) {
    out += "    " + escapedText(look.what + (look.path.empty() ? "" : ": " + look.path)) + "\n";
    out += look.found ? "      found " + shown(look.value) + "\n"
                      : "      nothing: " + escapedText(look.why) + "\n";
  }
  if (report.iniRead && !report.help) {
    out += "  Agent: " +
           (report.agent.refVersion.empty() ? std::string("not found")
                                            : "version " + escapedText(report.agent.refVersion)) +
           "; required " +
           (report.ini.iniManagerVersion.empty() ? std::string("any")
                                                 : escapedText(report.ini.iniManagerVersion)) +
           ": " + (report.sufficient ? "sufficient" : "not sufficient") + "\n";
  }
  if (report.installerRuns) {
    out += "  The installer would run:\n";
    appendArgv(&out, report.installer.installerArglist);
    out += "    with these variables added to its environment:\n";
    for (const std::string& variable : report.installer.installerEnv) {
      size_t equals = variable.find('=');
      out += "      " + escapedText(variable.substr(0, equals)) + " = " +
             shown(variable.substr(equals + 1)) + "\n";
    }
  }
  if (report.agentKnown) {
    out += std::string("  The agent would start (") +
           (report.agentWaited ? "waited for" : "replacing the launcher") + "):\n";
    appendArgv(&out, report.agentCommand.agentArglist);
  } else if (report.agentPredicted) {
    out += std::string("  The agent's command line is known only after the "
                       "installer has run; if the agent then lands in a "
                       "directory D, it is (") +
           (report.agentWaited ? "waited for" : "replacing the launcher") +
           "), with D for " + kAgentDirectoryStandIn + ":\n";
    appendArgv(&out, report.agentCommand.agentArglist);
  }
  if (!report.contract.empty()) {
    out += "  After the installer ends with 0, the launcher looks again and needs:\n";
    for (const CheckExpectation& e : report.contract) {
      out += "    " + escapedText(e.path) + "\n        " + escapedText(e.holds) + "\n";
    }
  }
  // The end's own lines, each escaped, under one another.
  out += "  End: " + escapedLines(report.endText, "       ").substr(7);
  return out;
}

int asColumnWidth(const std::vector<CheckReport>& rows) {
  size_t width = 28;
  for (const CheckReport& row : rows) {
    width = std::max(width, escapedText(identityText(row.identity)).size());
  }
  return static_cast<int>(width);
}

std::string formatMatrixText(const std::vector<CheckReport>& rows, bool strict) {
  if (rows.empty()) return std::string();
  std::string out = header(rows[0]) + "\n";
  int width = asColumnWidth(rows);
  out += formatText("   %-*s %-8s %-8s %s\n", width, "As", "Machine", "Verdict", "Predicted end");
  for (size_t i = 0; i < rows.size(); ++i) {
    const CheckReport& row = rows[i];
    bool works = checkVerdict({row}, strict) == 0;
    out += formatText("%zu  %-*s %-8s %-8s %s\n", i + 1, width,
                      escapedText(identityText(row.identity)).c_str(),
                      row.clean ? "clean" : "here", works ? "works" : "FAILS",
                      shortEnd(row).c_str());
  }
  // Each problem once, with the rows it shows in when not in all of them.
  struct Seen {
    const CheckProblem* problem;
    std::string rows;
  };
  std::vector<Seen> seen;
  std::vector<std::string> keys;
  for (size_t i = 0; i < rows.size(); ++i) {
    for (const CheckProblem& p : rows[i].problems) {
      std::string key = p.code + "\n" + problemLocation(p) + "\n" + p.message;
      size_t at = 0;
      while (at < keys.size() && keys[at] != key) ++at;
      if (at == keys.size()) {
        keys.push_back(key);
        seen.push_back({&p, std::string()});
      }
      seen[at].rows += (seen[at].rows.empty() ? "" : ",") + std::to_string(i + 1);
    }
  }
  std::string all;
  for (size_t i = 0; i < rows.size(); ++i) all += (i ? "," : "") + std::to_string(i + 1);
  out += "\nProblems (rows in brackets when not all):\n";
  if (seen.empty()) out += "  none\n";
  for (const Seen& s : seen) {
    appendProblem(&out, *s.problem, s.rows == all ? "" : "[" + s.rows + "] ");
  }
  out += "\nRows:\n";
  for (size_t i = 0; i < rows.size(); ++i) {
    out += formatText("%zu  ", i + 1) + asText(rows[i]) + "\n";
  }
  return out;
}

std::string formatCheckJson(const std::vector<CheckReport>& reports, bool strict,
                            int exitStatus) {
  if (reports.empty()) return std::string();
  const CheckReport& report = reports[0];
  std::string out = "{\n";
  out += "  \"schemaVersion\": " + std::to_string(kJsonSchemaVersion) + ",\n";
  out += "  \"tool\": {\"name\": \"launcher-check\", \"version\": \"" LAUNCHER_VERSION "\"},\n";
  out += "  \"launcher\": " + jsonString(report.info.launcherFullPath) + ",\n";
  out += "  \"options\": " + jsonArray(report.launcherArgs) + ",\n";
  out += "  \"launcherDir\": " + jsonString(report.info.launcherDir) + ",\n";
  out += "  \"iniFile\": " + jsonString(report.iniPath) + ",\n";
  out += "  \"iniRead\": " + jsonBool(report.iniRead) + ",\n";
  out += "  \"strict\": " + jsonBool(strict) + ",\n";
  out += "  \"exitStatus\": " + std::to_string(exitStatus) + ",\n";
  out += jsonReportBody(report);
  if (reports.size() > 1) {
    out += ",\n  \"matrix\": [";
    for (size_t i = 0; i < reports.size(); ++i) {
      out += std::string(i ? "," : "") + "\n {\n" + jsonReportBody(reports[i]) + "\n }";
    }
    out += "\n  ]";
  }
  out += "\n}\n";
  return out;
}
