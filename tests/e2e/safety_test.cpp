// Run by root from a directory someone else filled, and under signals: each
// case plants what an attacker would, or starts the launcher as a caller
// can, and checks that nothing planted ran and the status is the child's.
#include <elf.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

#include "harness.h"

namespace e2e {
namespace {

class SafetyTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    installAgent(agent("1.0.0"));
    writeIni(Ini());
  }

  // pkg/setup started by a bash script whose last command is `start`.
  Result runStarted(const std::string& start, const std::vector<std::string>& args = {}) {
    std::string err;
    EXPECT_TRUE(standin::copyFile(std::getenv("LAUNCHER_UNDER_TEST"), launcherPath(), 0755, &err));
    launcherName = "start";
    write(launcherPath(), "#!/bin/bash\n" + start + " '" + pkgDir + "/setup' \"$@\"\n");
    chmod(launcherPath().c_str(), 0755);
    Result r = run(args);
    launcherName = "setup";
    return r;
  }

  // The stand-in installer at `path`, recording to records/planted.
  void plantProgram(const std::string& path) {
    Plan plan = exitsWith({"0"});
    plan.record = recordPath("planted");
    writeStandinInstaller(path, plan);
  }
  // An INI file that would run workDir/pwn.
  void plantIni(const std::string& name) {
    Ini ini;
    ini.version = "99.0";
    ini.installerLocation = "pwn";
    write(workDir + "/" + name, ini.text());
    plantProgram(workDir + "/pwn");
  }
};

TEST_F(SafetyTest, PlantedWorkingDirectoryNeverChoosesTheIni) {
  // The shell found setup on PATH; the working directory holds another.
  setEnv("PATH", pkgDir + ":/usr/bin:/bin");
  write(workDir + "/setup", "");
  plantIni("setup.ini");
  EXPECT_EQ(0, runStarted("cd '" + workDir + "' && exec -a setup").status);
  // A link to the real launcher is the same file, but not the one started.
  unlink((workDir + "/setup").c_str());
  ASSERT_EQ(0, symlink(launcherPath().c_str(), (workDir + "/setup").c_str()));
  EXPECT_EQ(0, runStarted("cd '" + workDir + "' && exec -a setup").status);
  // A name found nowhere: the running program's own path, never "./.ini".
  unlink((workDir + "/setup").c_str());
  setEnv("PATH", "/usr/bin:/bin");
  plantIni(".ini");
  EXPECT_EQ(0, runStarted("cd '" + workDir + "' && exec -a setup", {"-log", logPath}).status);
  EXPECT_NE(std::string::npos, readFile(logPath).find("launcherDir: (" + pkgDir + "/)\n"));
  EXPECT_EQ(3u, agentRuns().size());
  EXPECT_TRUE(records("planted").empty());
}

TEST_F(SafetyTest, MsiexecComesFromPathOnly) {
  Ini ini;
  ini.installerLocation = "agent.msi";
  ini.version = "2.0";
  writeIni(ini);
  write(pkgDir + "/agent.msi", "");
  writeStandinInstaller(binDir + "/msiexec.exe", installsAgent("2.0"));
  plantProgram(workDir + "/msiexec.exe");
  EXPECT_EQ(0, run().status);
  EXPECT_EQ(1u, installerRuns().size());
  EXPECT_TRUE(records("planted").empty());
}

TEST_F(SafetyTest, RelativeKeyAndReferenceFileAreThePackages) {
  AgentInstall real = agent("1.0.0");
  real.locationFile = pkgDir + "/.q/location";
  installAgent(real);
  write(pkgDir + "/ref.txt", "location=" + agentDir + "\n");
  for (const char* file : {"/.q/location", "/ref.txt"}) {
    AgentInstall evil = agent("9.0");
    evil.dir = workDir + "/evil";
    evil.locationFile = workDir + file;
    evil.agentRecord = recordPath("planted");
    installAgent(evil);
  }
  Ini machineKey;  // admin mode, root's default: the key is a path
  machineKey.isAdmin = "true";
  machineKey.locationKey = ".q/location";
  Ini referenceFile;
  referenceFile.locationKey = "";
  referenceFile.locationFile = "ref.txt";
  for (const Ini& ini : {machineKey, referenceFile}) {
    writeIni(ini);
    EXPECT_EQ(0, run().status);
  }
  EXPECT_EQ(2u, agentRuns().size());
  EXPECT_TRUE(records("planted").empty());
}

TEST_F(SafetyTest, LogFollowsOnlyTrustedLinksAndIsPrivate) {
  if (geteuid() != 0) GTEST_SKIP() << "a link owned by another user needs root";
  write(root + "/victim", "secret\n");
  ASSERT_EQ(0, symlink((root + "/victim").c_str(), (workDir + "/run.log").c_str()));
  ASSERT_EQ(0, lchown((workDir + "/run.log").c_str(), 65534, 65534));
  EXPECT_EQ(0, run({"-log", "run.log"}).status);
  EXPECT_EQ("secret\n", readFile(root + "/victim"));

  write(workDir + "/old.log", "");
  chmod((workDir + "/old.log").c_str(), 0644);
  struct stat created, existing;
  for (const char* log : {"new.log", "old.log"}) run({"-log", log});
  ASSERT_EQ(0, stat((workDir + "/new.log").c_str(), &created));
  ASSERT_EQ(0, stat((workDir + "/old.log").c_str(), &existing));
  EXPECT_EQ(0600u, created.st_mode & 07777);
  EXPECT_EQ(0644u, existing.st_mode & 07777);
  // A link of root's own.
  EXPECT_NE(std::string::npos, run({"-log", "/dev/stderr"}).err.find("isWait: (0)\n"));
}

TEST_F(SafetyTest, ClosedStandardErrorNeverBecomesTheLog) {
  Ini ini;
  ini.version = "2.0";  // too new, no installer: a message
  writeIni(ini);
  EXPECT_EQ(1, runStarted("exec 2>&-; exec", {"-log", logPath}).status);
  std::string log = readFile(logPath);
  EXPECT_NE(std::string::npos, log.find("Install cannot continue"));
  EXPECT_EQ(std::string::npos, log.find(msgAgentNotFound("2.0")));
}

TEST_F(SafetyTest, IgnoredSigchldAndNohupKeepChildrensResults) {
  Ini ini;
  ini.version = "2.0";
  ini.installerLocation = "install";
  writeIni(ini);
  writeInstaller("install", installsAgent("2.0", {"23", "5"}));
  const char* start = "exec perl -e '$SIG{CHLD} = $SIG{HUP} = \"IGNORE\"; exec @ARGV'";
  EXPECT_EQ(5, runStarted(start, {"-wait"}).status);
  EXPECT_EQ(2u, agentRuns().size());
  runStarted(start);  // the agent replaces the launcher
  std::vector<Record> runs = agentRuns();
  runs.push_back(installerRuns().at(0));
  ASSERT_EQ(4u, runs.size());
  // As inherited: SIGHUP ignored, nothing blocked; SIGCHLD default, and
  // SIGINT and SIGQUIT, ignored by the launcher while it waits, too.
  for (const Record& child : runs) {
    EXPECT_EQ("0000000000000001", child.sigIgnored) << child.argv[0];
    EXPECT_EQ("0000000000000000", child.sigBlocked) << child.argv[0];
  }
}

TEST_F(SafetyTest, SigtermIsPassedOnAndEndsTheRun) {
  // The stand-ins send SIGINT, SIGQUIT and SIGTERM to the launcher. The
  // installer then exits with 0: no agent after it, no message.
  Ini ini;
  ini.version = "2.0";
  ini.installerLocation = "install";
  writeIni(ini);
  Plan installer = installsAgent("2.0");
  installer.outcomes = {"stop0"};
  writeInstaller("install", installer);
  Result r = run();
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.err);
  EXPECT_TRUE(agentRuns().empty());
  // The agent exits with 23: no restart, and its own status.
  installAgent(agent("2.0", {"stop23"}));
  EXPECT_EQ(23, run({"-wait"}).status);
  EXPECT_EQ(1u, agentRuns().size());
}

TEST_F(SafetyTest, StoppedAgentStillHearsThePassedOnSigterm) {
  // A helper of the agent's sends the launcher SIGTERM once the agent has
  // stopped itself; the agent's handler can only run once it is continued.
  std::string program = agentDir + "/bin/agent";
  write(program,
        "#!/bin/sh\ntrap 'exit 7' TERM\n"
        "(until grep -q '^State:.T' /proc/$$/status; do sleep 0.01; done; kill -TERM $PPID) &\n"
        "kill -STOP $$\nexit 9\n");
  ASSERT_EQ(0, chmod(program.c_str(), 0755));
  Result r = run({"-wait"});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(7, r.status);
}

// The library for the launcher under test's ELF class.
std::string lateSigtermLibrary() {
  char ident[EI_NIDENT] = {};
  std::ifstream(std::getenv("LAUNCHER_UNDER_TEST"), std::ios::binary).read(ident, sizeof ident);
  return ident[EI_CLASS] == ELFCLASS32 ? E2E_LATE_SIGTERM32 : E2E_LATE_SIGTERM;
}

TEST_F(SafetyTest, SigtermJustAsTheChildEndsStopsTheRunQuietly) {
  // It comes while the launcher holds every signal: it counts as passed on
  // (no restart), and must not kill the launcher once the actions it
  // inherited are back.
  installAgent(agent("1.0.0", {"23", "0"}));
  std::string library = lateSigtermLibrary();
  ASSERT_FALSE(library.empty()) << "no preload library for this launcher";
  setEnv("LD_PRELOAD", library);
  const char* asan = std::getenv("ASAN_OPTIONS");
  setEnv("ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0");
  EXPECT_EQ(23, run({"-wait"}).status);
  EXPECT_EQ(1u, agentRuns().size());
}

TEST_F(SafetyTest, LargeKeyFileLoadsInLinearTime) {
  std::string key;
  for (int i = 0; i < 80000; ++i) key += "k" + std::to_string(i) + "=v\n";
  write(home + "/.quorvin/agent.key", key + "location=" + agentDir + "\n");
  time_t start = time(nullptr);
  EXPECT_EQ(0, run().status);
  EXPECT_LT(time(nullptr) - start, 5) << "quadratic: 12 s and more";
  EXPECT_EQ(1u, agentRuns().size());
}

// True once `pid` has ended (gone, or a zombie nobody reaped yet); waits up
// to five seconds for it.
bool endsSoon(const std::string& pidText) {
  std::string stat = "/proc/" + std::to_string(std::atoi(pidText.c_str())) + "/stat";
  for (int i = 0; i < 500; ++i) {
    std::ifstream file(stat);
    std::string line;
    if (!std::getline(file, line)) return true;
    size_t paren = line.rfind(')');
    if (paren != std::string::npos && line.compare(paren, 3, ") Z") == 0) return true;
    usleep(10000);
  }
  return false;
}

TEST_F(SafetyTest, StoppingTheLauncherStopsWhatTheInstallerStarted) {
  Ini ini;
  ini.version = "2.0";
  ini.installerLocation = "install";
  writeIni(ini);
  std::string installer = pkgDir + "/install", pidFile = root + "/pid";
  // SIGTERM passed on reaches the installer's own child.
  write(installer, "#!/bin/sh\nsleep 300 &\necho $! >'" + pidFile + "'\nkill -TERM $PPID\nwait\n");
  ASSERT_EQ(0, chmod(installer.c_str(), 0755));
  EXPECT_EQ(128 + SIGTERM, run().status);
  EXPECT_TRUE(endsSoon(readFile(pidFile)));
  // The launcher killed outright: the installer hears of it.
  write(installer, "#!/bin/sh\necho $$ >'" + pidFile + "'\nkill -KILL $PPID\nexec sleep 300\n");
  EXPECT_EQ(128 + SIGKILL, run().status);
  EXPECT_TRUE(endsSoon(readFile(pidFile)));
}

TEST_F(SafetyTest, InstallerInTheTerminalsForegroundReadsItAndHearsCtrlC) {
  // In a process group of its own, outside the terminal's foreground group,
  // the installer would be stopped at its first read.
  Ini ini;
  ini.version = "2.0";
  ini.installerLocation = "install";
  writeIni(ini);
  std::string installer = pkgDir + "/install", ready = root + "/ready";
  write(installer, "#!/bin/sh\ntouch '" + ready + "'\nread answer\nexit $answer\n");
  ASSERT_EQ(0, chmod(installer.c_str(), 0755));
  // The keys are typed once the installer waits for them.
  auto typed = [&](const std::string& keys) {
    unlink(ready.c_str());
    return "(until [ -e '" + ready + "' ]; do sleep 0.05; done; printf '" + keys +
           "') | script -qec";
  };
  EXPECT_EQ(7, runStarted(typed("7\\n")).status);  // the answer, as its status
  EXPECT_EQ(128 + SIGINT, runStarted(typed("\\003")).status);
}

}  // namespace
}  // namespace e2e
