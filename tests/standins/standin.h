// Stand-ins for the agent and its installer. Each keeps the contract the
// launcher relies on and records every run, so end-to-end tests can see what
// the launcher handed to its children, byte for byte.
//
// A stand-in takes its orders from a plan file beside itself (its own path,
// from /proc/self/exe, plus ".plan"); it never reads the environment for
// that, since the tests compare the environment the launcher passes on.
#ifndef E2E_STANDIN_H_
#define E2E_STANDIN_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace standin {

// Identifier of the agent package in installed.xml.
extern const char kAgentPackageId[];

// What an installation of the agent consists of: the location entry, the
// agent program, its configuration file and its installed-packages file.
struct AgentInstall {
  std::string dir;            // installation directory
  std::string dataDir;        // named by zel.appDataLocation; empty: dir/data
  std::string version;        // written to installed.xml
  std::string program;        // relative to dir (the INI's LAUNCHER)
  std::string source;         // program copied there (the stand-in agent)
  bool executable = true;     // mode 0755, else 0644
  std::string locationFile;   // key or reference file; empty: not written
  std::string locationValue;  // its "location" entry; empty: dir
  std::string agentRecord;    // record file of the installed agent
  std::vector<std::string> agentOutcomes;  // the installed agent's outcomes
  int pauseMs = 0;  // before each file it writes: a slow installer
};

// Orders for one stand-in program.
struct Plan {
  std::string record;  // file every run is appended to
  // One outcome per run, the last repeated: "N" exits with N, "sigN" kills
  // the program with signal N; "stop" sends SIGINT, SIGQUIT and SIGTERM to its
  // parent (the launcher), waits for a SIGTERM or SIGHUP and dies of it;
  // "stopN" does the same but exits with N on that signal.
  std::vector<std::string> outcomes;
  bool installs = false;  // installer only: install `install` when run
  AgentInstall install;
};

// One recorded run of a stand-in.
struct Record {
  std::string exe;  // the program's path (/proc/self/exe)
  pid_t pid = 0;
  pid_t ppid = 0;
  std::string cwd;
  std::vector<std::string> argv;  // slot 0 included
  std::vector<std::string> env;   // NAME=value, in the order received
  std::string sigIgnored;         // SigIgn and SigBlk of /proc/self/status
  std::string sigBlocked;         // at start (hex masks)
};

bool writePlan(const std::string& path, const Plan& plan, std::string* err);
bool readPlan(const std::string& path, Plan* plan, std::string* err);

// Records are text: one field per line, bytes outside printable ASCII and
// the backslash written as \xHH or \\, so every byte survives.
std::string escape(const std::string& bytes);
std::string unescape(const std::string& text);
bool appendRecord(const std::string& path, const Record& record,
                  std::string* err);
// Every run recorded in `path`, oldest first; none when it does not exist.
std::vector<Record> readRecords(const std::string& path);

// Lays out an installed agent as a real installer would. The plan of the
// installed program is written beside it.
bool installAgent(const AgentInstall& install, std::string* err);

bool mkdirs(const std::string& dir, std::string* err);
bool writeFile(const std::string& path, const std::string& content,
               std::string* err);
bool copyFile(const std::string& from, const std::string& to, mode_t mode,
              std::string* err);

// Runs one stand-in: records the run, installs when the plan says so, and
// ends with the planned outcome. Returns only an exit status (the stand-in's
// own failure is 199, with a line on stderr).
int runStandin(int argc, char** argv, char** envp);

}  // namespace standin

#endif  // E2E_STANDIN_H_
