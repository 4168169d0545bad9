// End-to-end harness: runs the real launcher binary in a throw-away package
// directory and reads what the stand-in agent and installer recorded.
//
// Usage:
//
//   TEST_F(E2eTest, InstallsThenStartsAgent) {
//     Ini ini;                                // defaults: ISADMIN=false,
//     ini.installerLocation = "installer/install";  // key under $HOME, ...
//     writeIni(ini);                          // or writeIni("raw text")
//     writeInstaller("installer/install", installsAgent("1.0.0", {"23", "5"}));
//     Result r = run({"-wait", "-log", logPath});  // argv[0] is added
//     EXPECT_EQ(5, r.status);                 // also r.out, r.err, r.pid
//     ASSERT_EQ(1u, installerRuns().size());  // one Record per run
//     EXPECT_EQ(pkgDir + "//installer/install", installerRuns()[0].argv[0]);
//     EXPECT_EQ(2u, agentRuns().size());
//     EXPECT_NE(std::string::npos, readFile(logPath).find("rc: (0)"));
//   }
//
// An agent that is already installed: installAgent(agent("1.0.0", {"0"})).
// Outcomes are one per run, the last repeated: "N" exits with N, "sigN"
// kills the stand-in with signal N.
//
// Every test gets a fresh root directory (removed afterwards unless the
// environment variable E2E_KEEP is set) with:
//   pkg/       the package: the launcher copied as "setup", setup.ini, ...
//   home/      $HOME of the launcher
//   work/      the launcher's working directory
//   bin/       first on PATH (put msiexec.exe here)
//   agent/     the default agent installation directory
//   records/   what the stand-ins recorded
// The launcher under test is named by LAUNCHER_UNDER_TEST; a test whose
// launcher or stand-ins are missing fails, it is never skipped.
// The launcher's environment is `env` only (PATH and HOME to start with);
// DISPLAY is unset, so messages arrive on stderr, one line each ("<title>:
// <text>", or the text alone when it has no title).
#ifndef E2E_HARNESS_H_
#define E2E_HARNESS_H_

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "standin.h"

namespace e2e {

using standin::Record;

// The launcher INI file; empty fields are left out of the text. The
// defaults make a per-user installation that does not depend on whether the
// tests run as root.
struct Ini {
  // [INSTALLER]
  std::string installerLocation;
  std::vector<std::string> installerArgs;
  std::string licenseAccepted;
  // [MANAGER]
  std::string locationKey = ".quorvin/agent.key";
  std::string locationFile;
  std::string version = "1.0.0";
  std::string launcher = "bin/agent";
  std::string launcherSilent;
  std::string inputFile;
  std::string mode;
  std::vector<std::string> managerArgs;
  // [COMMON]
  std::string silent;
  std::string isAdmin = "false";
  std::string appDataLocation;
  std::string nl;

  std::string text() const;
};

// How a launcher run ended.
struct Result {
  int status = -1;        // exit status; 128 + signal when killed
  bool timedOut = false;  // killed by the harness after the time-out
  pid_t pid = 0;          // the launcher's process id
  std::string out;        // stdout
  std::string err;        // stderr
};

// An agent as an installer leaves it, for installAgent() and
// installsAgent(). Empty fields take the fixture's defaults: dir agent/,
// program bin/agent, location file $HOME/.quorvin/agent.key, records
// records/agent.
using standin::AgentInstall;
using standin::Plan;

class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Layout (absolute paths, no trailing '/').
  std::string root, pkgDir, home, workDir, binDir, agentDir, recordDir;
  std::string logPath;  // root/launcher.log, a place for -log
  // The launcher's file name in pkgDir; change before writeIni()/run().
  std::string launcherName = "setup";
  std::string launcherPath() const;  // pkgDir + "/" + launcherName
  std::string iniPath() const;       // pkgDir + "/setup.ini" (by the name)

  void writeIni(const Ini& ini);
  void writeIni(const std::string& text);

  // The default agent: `version` under agentDir, recorded by the key file
  // of the default Ini, exiting with `outcomes`.
  AgentInstall agent(const std::string& version,
                     std::vector<std::string> outcomes = {"0"}) const;
  // Lays out an installed agent now (empty fields as agent() fills them).
  void installAgent(AgentInstall install);

  // Plans for the stand-in installer.
  Plan exitsWith(std::vector<std::string> outcomes) const;
  Plan installsAgent(const std::string& version,
                     std::vector<std::string> agentOutcomes = {"0"}) const;
  Plan installs(AgentInstall install) const;
  // Puts the stand-in installer at pkgDir/<relPath>.
  void writeInstaller(const std::string& relPath, const Plan& plan);
  // Puts a stand-in program at an absolute path: the installer stand-in
  // (e.g. bin/msiexec.exe) or the agent stand-in (e.g. a java runtime).
  void writeStandinInstaller(const std::string& path, const Plan& plan);
  void writeStandinAgent(const std::string& path, const Plan& plan);

  // The launcher's environment; setEnv replaces or appends NAME=value.
  std::vector<std::string> env;
  void setEnv(const std::string& name, const std::string& value);
  void unsetEnv(const std::string& name);

  // Runs the launcher (argv[0] = launcherPath()) in `cwd` with `env`.
  std::string cwd;  // default workDir
  std::string executable;  // the path the kernel executes; default launcherPath()
  Result run(const std::vector<std::string>& args = {});
  Result runAs(const std::string& argv0, const std::vector<std::string>& args);

  // What the stand-ins recorded, oldest run first.
  std::vector<Record> installerRuns() const;  // records/installer
  std::vector<Record> agentRuns() const;      // records/agent
  std::vector<Record> records(const std::string& name) const;  // records/<name>
  std::string recordPath(const std::string& name) const;
  void clearRecords();

  // A file's whole content, e.g. a -log file; "" when it cannot be read.
  static std::string readFile(const std::string& path);
  static bool exists(const std::string& path);
  void write(const std::string& path, const std::string& content);
  void mkdirs(const std::string& dir);
};

// Error text as the launcher prints it without a display.
std::string errorMessage(const std::string& text);  // "Error: " text "\n"

// Catalogue texts (English) with their value filled in.
std::string msgAgentNotFound(const std::string& version);     // 2011
std::string msgAgentNotFoundExt(const std::string& version);  // 2017
std::string msgInstallerNotFound(const std::string& path);    // 2013
std::string msgInstallFailed(int status);                     // 2015

// The value of NAME in an environment list, and whether it is there.
bool hasVar(const std::vector<std::string>& env, const std::string& name);
std::string varValue(const std::vector<std::string>& env,
                     const std::string& name);

}  // namespace e2e

#endif  // E2E_HARNESS_H_
