// The launcher run by root from a directory someone else filled, and under
// signals: each case plants what an attacker would or starts the launcher
// the way a caller can, and checks that nothing planted ran and that the
// status is the child's own.
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

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

  // The launcher (pkg/setup) started by a bash script: `start` is the
  // script's last command, with {setup} for the launcher's path.
  Result runStarted(std::string start, const std::vector<std::string>& args = {}) {
    std::string err;
    EXPECT_TRUE(standin::copyFile(std::getenv("LAUNCHER_UNDER_TEST"),
                                  launcherPath(), 0755, &err)) << err;
    start.replace(start.find("{setup}"), 7, "'" + launcherPath() + "'");
    launcherName = "start";
    write(launcherPath(), "#!/bin/bash\n" + start + " \"$@\"\n");
    chmod(launcherPath().c_str(), 0755);
    Result r = run(args);
    launcherName = "setup";
    return r;
  }

  // A package that would run `planted` (the stand-in installer, recording
  // to records/planted) if its INI file were read.
  void plant(const std::string& iniPath, const std::string& planted) {
    Ini ini;
    ini.version = "99.0";
    ini.installerLocation = "pwn";
    write(iniPath, ini.text());
    Plan plan = exitsWith({"0"});
    plan.record = recordPath("planted");
    writeStandinInstaller(planted, plan);
  }
  std::vector<Record> plantedRuns() const { return records("planted"); }

  static unsigned long long mask(const std::string& hex) {
    return std::strtoull(hex.c_str(), nullptr, 16);
  }
  static unsigned long long bit(int sig) { return 1ULL << (sig - 1); }
};

TEST_F(SafetyTest, BareNameIsNeverResolvedToAPlantedWorkingDirectory) {
  // The shell found setup on PATH; the working directory holds another.
  setEnv("PATH", pkgDir + ":/usr/bin:/bin");
  write(workDir + "/setup", "");
  plant(workDir + "/setup.ini", workDir + "/pwn");
  Result r = runStarted("cd '" + workDir + "' && exec -a setup {setup}");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(1u, agentRuns().size());

  // A name found nowhere: the running program's own path, never "./.ini".
  unlink((workDir + "/setup").c_str());
  setEnv("PATH", "/usr/bin:/bin");
  plant(workDir + "/.ini", workDir + "/pwn");
  r = runStarted("cd '" + workDir + "' && exec -a setup {setup}", {"-log", logPath});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(2u, agentRuns().size());
  EXPECT_NE(std::string::npos, readFile(logPath).find("launcherDir: (" + pkgDir + "/)\n"));
  EXPECT_TRUE(plantedRuns().empty());
}

TEST_F(SafetyTest, MsiexecComesFromPathOnly) {
  Ini ini;
  ini.installerLocation = "agent.msi";
  ini.version = "2.0";
  writeIni(ini);
  write(pkgDir + "/agent.msi", "");
  writeStandinInstaller(binDir + "/msiexec.exe", installsAgent("2.0"));
  Plan planted = exitsWith({"0"});
  planted.record = recordPath("planted");
  writeStandinInstaller(workDir + "/msiexec.exe", planted);
  Result r = run();
  EXPECT_EQ(0, r.status) << r.err;
  ASSERT_EQ(1u, installerRuns().size());
  EXPECT_EQ(binDir + "/msiexec.exe", installerRuns()[0].exe);
  EXPECT_TRUE(plantedRuns().empty());
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
  Ini machineKey;  // admin mode (root's default): the key is a path
  machineKey.isAdmin = "true";
  machineKey.locationKey = ".q/location";
  Ini referenceFile;
  referenceFile.locationKey = "";
  referenceFile.locationFile = "ref.txt";
  for (const Ini& ini : {machineKey, referenceFile}) {
    writeIni(ini);
    Result r = run();
    EXPECT_EQ(0, r.status) << r.err;
  }
  EXPECT_EQ(2u, agentRuns().size());
  EXPECT_TRUE(plantedRuns().empty());
}

TEST_F(SafetyTest, LogFollowsOnlyTrustedLinksAndIsPrivate) {
  if (geteuid() != 0) GTEST_SKIP() << "a link owned by another user needs root";
  const std::string victim = root + "/victim";
  write(victim, "secret\n");
  ASSERT_EQ(0, symlink(victim.c_str(), (workDir + "/run.log").c_str()));
  ASSERT_EQ(0, lchown((workDir + "/run.log").c_str(), 65534, 65534));
  Result r = run({"-log", "run.log"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("secret\n", readFile(victim));
  EXPECT_EQ(1u, agentRuns().size());

  write(workDir + "/old.log", "");
  chmod((workDir + "/old.log").c_str(), 0644);
  for (const char* log : {"new.log", "old.log"}) run({"-log", log});
  struct stat created, existing;
  ASSERT_EQ(0, stat((workDir + "/new.log").c_str(), &created));
  ASSERT_EQ(0, stat((workDir + "/old.log").c_str(), &existing));
  EXPECT_EQ(0600u, created.st_mode & 07777);
  EXPECT_EQ(0644u, existing.st_mode & 07777);
  EXPECT_NE(std::string::npos, readFile(workDir + "/new.log").find("isWait: (0)"));
  // A link of root's own: /dev/stderr.
  r = run({"-log", "/dev/stderr"});
  EXPECT_NE(std::string::npos, r.err.find("isWait: (0)\n"));
}

TEST_F(SafetyTest, ClosedStandardErrorNeverBecomesTheLog) {
  Ini ini;
  ini.version = "2.0";  // too new, no installer: a message
  writeIni(ini);
  Result r = runStarted("exec {setup} 2>&-", {"-log", logPath});
  EXPECT_EQ(1, r.status);
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
  const std::string start =
      "exec perl -e '$SIG{CHLD} = \"IGNORE\"; $SIG{HUP} = \"IGNORE\"; exec @ARGV' {setup}";
  Result r = runStarted(start, {"-wait"});
  EXPECT_EQ(5, r.status) << r.err;
  EXPECT_EQ(1u, installerRuns().size());
  EXPECT_EQ(2u, agentRuns().size());
  runStarted(start);  // the agent replaces the launcher
  std::vector<Record> runs = installerRuns();
  for (const Record& a : agentRuns()) runs.push_back(a);
  ASSERT_EQ(4u, runs.size());
  for (const Record& child : runs) {
    // As inherited: SIGHUP ignored; SIGCHLD default; SIGINT and SIGQUIT,
    // ignored by the launcher while it waits, default; nothing blocked.
    EXPECT_EQ(bit(SIGHUP), mask(child.sigIgnored)) << child.argv[0];
    EXPECT_EQ(0u, mask(child.sigBlocked)) << child.argv[0];
  }
}

TEST_F(SafetyTest, SigtermIsPassedOnAndEndsTheRun) {
  // The installer is asked to stop and chooses 0: no agent after it.
  Ini ini;
  ini.version = "2.0";
  ini.installerLocation = "install";
  writeIni(ini);
  Plan installer = installsAgent("2.0");
  installer.outcomes = {"stop0"};
  writeInstaller("install", installer);
  Result r = run();
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(1u, installerRuns().size());
  EXPECT_TRUE(agentRuns().empty());
  EXPECT_EQ("", r.err);

  // The agent chooses 23: no restart, and its own status.
  installAgent(agent("2.0", {"stop23"}));
  r = run({"-wait"});
  EXPECT_EQ(23, r.status) << r.err;
  EXPECT_EQ(1u, agentRuns().size());
}

TEST_F(SafetyTest, LargeKeyFileLoadsInLinearTime) {
  std::string key;
  for (int i = 0; i < 80000; ++i) key += "k" + std::to_string(i) + "=v\n";
  write(home + "/.quorvin/agent.key", key + "location=" + agentDir + "\n");
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  Result r = run();
  clock_gettime(CLOCK_MONOTONIC, &end);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(1u, agentRuns().size());
  EXPECT_LT(end.tv_sec - start.tv_sec, 5) << "quadratic: 12 s on the old build";
}

}  // namespace
}  // namespace e2e
