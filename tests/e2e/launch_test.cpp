// The launch sequence seen from outside: every way a run ends, with its exit
// status and message, and how the agent is started.
#include <sys/stat.h>
#include <unistd.h>

#include "../test_support.h"
#include "harness.h"

namespace e2e {
namespace {

const char kInstaller[] = "installer/install";

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += "[" + w + "]";
  return out;
}

// ---------------------------------------------------------------------------
// Ends before the decision sequence

TEST_F(E2eTest, MissingIniEndsWithStatusOneWhateverTheCommandLine) {
  installAgent(agent("1.0.0"));
  std::string log = workDir + "/launcher.log";
  for (std::vector<std::string> args :
       {std::vector<std::string>{}, {"-help"}, {"-silent"}, {"-log", log}}) {
    SCOPED_TRACE(joined(args));
    Result r = run(args);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("Cannot open INI file: " + iniPath() + "\n", r.err);
    EXPECT_FALSE(exists(log));
    EXPECT_TRUE(agentRuns().empty());
  }
}

TEST_F(E2eTest, HelpEndsWithStatusZeroAndStartsNothing) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeInstaller(kInstaller, installsAgent("1.0.0"));
  for (const char* help : {"-help", "--help", "-?", "/help", "/?"}) {
    SCOPED_TRACE(help);
    Result r = run({help, "-wait"});
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(installerRuns().empty());
    EXPECT_TRUE(agentRuns().empty());
  }
}

// ---------------------------------------------------------------------------
// No sufficient agent and no installer: the launch mode picks the message

struct ModeCase {
  const char* mode;
  bool extension;
};
void PrintTo(const ModeCase& c, std::ostream* os) { *os << "MODE=" << c.mode; }

class NoInstallerTest : public E2eTest,
                        public ::testing::WithParamInterface<ModeCase> {};

TEST_P(NoInstallerTest, EndsWithStatusOneAndTheRequiredVersion) {
  Ini ini;
  ini.mode = GetParam().mode;
  ini.version = "2.5.1";
  writeIni(ini);
  std::string text = GetParam().extension ? msgAgentNotFoundExt("2.5.1")
                                          : msgAgentNotFound("2.5.1");
  for (const char* state : {"absent", "older"}) {
    SCOPED_TRACE(state);
    if (std::string(state) == "older") installAgent(agent("2.5.0"));
    Result r = run();
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(errorMessage(text), r.err);
    EXPECT_TRUE(agentRuns().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, NoInstallerTest,
                         ::testing::Values(ModeCase{"", false},
                                           ModeCase{"INSTALL", false},
                                           ModeCase{"UNINSTALL", false},
                                           ModeCase{"EXTENSION", true}));

// The catalogue is UTF-8; a terminal in a Latin-1 locale must get Latin-1.
TEST_F(E2eTest, MessageComesInTheLocalesCharacterSet) {
  std::string locales = root + "/locales";
  ASSERT_EQ("", makeLocales(locales, {"fr_FR.ISO-8859-1 fr_FR ISO-8859-1"}));
  setEnv("LOCPATH", locales);
  setEnv("LANG", "fr_FR.ISO-8859-1");
  writeIni(Ini());
  Result r = run();
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("Erreur: Telvane Quorvin version 1.0.0 ou ult\xe9rieure est introuvable.\n", r.err);
}

// ---------------------------------------------------------------------------
// The installer file is missing

TEST_F(E2eTest, MissingNativeInstallerEndsWithStatusOneAndItsPath) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  Result r = run();
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(errorMessage(msgInstallerNotFound(pkgDir + "//" + kInstaller)),
            r.err);
}

TEST_F(E2eTest, MissingPackageEndsWithStatusOneAndThePackagePath) {
  Ini ini;
  ini.installerLocation = "agent.msi";
  writeIni(ini);
  writeStandinInstaller(binDir + "/msiexec.exe", installsAgent("1.0.0"));
  Result r = run();
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(errorMessage(msgInstallerNotFound(pkgDir + "//agent.msi")), r.err);
  EXPECT_TRUE(installerRuns().empty());
}

// ---------------------------------------------------------------------------
// The installer's exit status, judged. "sigN" kills the installer with N.

struct InstallerCase {
  const char* name;
  bool package;        // a .msi run through msiexec.exe
  const char* outcome; // the installer's exit
  int status;          // the launcher's exit status
  bool message;        // message 2015 with the status
};
void PrintTo(const InstallerCase& c, std::ostream* os) { *os << c.name; }

class InstallerStatusTest
    : public E2eTest,
      public ::testing::WithParamInterface<InstallerCase> {};

TEST_P(InstallerStatusTest, DecidesStatusAndMessage) {
  const InstallerCase& c = GetParam();
  Ini ini;
  ini.installerLocation = c.package ? "agent.msi" : kInstaller;
  writeIni(ini);
  if (c.package) {
    write(pkgDir + "/agent.msi", "package");
    writeStandinInstaller(binDir + "/msiexec.exe", exitsWith({c.outcome}));
  } else {
    writeInstaller(kInstaller, exitsWith({c.outcome}));
  }
  Result r = run();
  EXPECT_EQ(c.status, r.status);
  EXPECT_EQ(c.message ? errorMessage(msgInstallFailed(c.status)) : "", r.err);
  EXPECT_EQ(1u, installerRuns().size());
  EXPECT_TRUE(agentRuns().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, InstallerStatusTest,
    ::testing::Values(
        InstallerCase{"NativeCancel", false, "232", 232, false},
        InstallerCase{"PackageCancelCodeIsAFailure", true, "232", 232, true},
        InstallerCase{"NativeFailure", false, "1", 1, true},
        InstallerCase{"PackageFailure", true, "1", 1, true},
        // 1602 cancels only on the other platform; as an exit status it
        // arrives as its low byte, 66, and is a failure.
        InstallerCase{"Native1602", false, "1602", 66, true},
        InstallerCase{"Package1602", true, "1602", 66, true},
        InstallerCase{"RestartCodeIsNotSpecial", false, "23", 23, true},
        InstallerCase{"Status255", false, "255", 255, true},
        InstallerCase{"KilledBySigkill", false, "sig9", 137, true},
        InstallerCase{"PackageKilledBySigkill", true, "sig9", 137, true},
        InstallerCase{"KilledBySigterm", false, "sig15", 143, true}),
    [](const ::testing::TestParamInfo<InstallerCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(E2eTest, InstallerThatInstallsNothingEndsWithAgentNotFound) {
  for (const char* location : {kInstaller, "agent.msi"}) {
    SCOPED_TRACE(location);
    clearRecords();
    Ini ini;
    ini.installerLocation = location;
    ini.version = "3.0";
    writeIni(ini);
    write(pkgDir + "/agent.msi", "package");
    writeStandinInstaller(binDir + "/msiexec.exe", exitsWith({"0"}));
    writeInstaller(kInstaller, exitsWith({"0"}));
    Result r = run();
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(errorMessage(msgAgentNotFound("3.0")), r.err);
    EXPECT_EQ(1u, installerRuns().size());
  }
}

TEST_F(E2eTest, InstallerThatInstallsAnOlderAgentEndsWithAgentNotFound) {
  Ini ini;
  ini.installerLocation = kInstaller;
  ini.version = "1.2.0";
  writeIni(ini);
  writeInstaller(kInstaller, installsAgent("1.1.9"));
  Result r = run();
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(errorMessage(msgAgentNotFound("1.2.0")), r.err);
  EXPECT_EQ(1u, installerRuns().size());
  EXPECT_TRUE(agentRuns().empty());
}

// ---------------------------------------------------------------------------
// Whether the installer runs at all

struct VersionCase {
  const char* installed;  // "" for no agent
  const char* required;
  bool installs;
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.installed << " vs " << c.required; }

class VersionTest : public E2eTest,
                    public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionTest, RunsTheInstallerOnlyForAMissingOrOlderAgent) {
  const VersionCase& c = GetParam();
  Ini ini;
  ini.installerLocation = kInstaller;
  ini.version = c.required;
  writeIni(ini);
  if (*c.installed) installAgent(agent(c.installed, {"4"}));
  writeInstaller(kInstaller, installsAgent(c.required, {"4"}));
  Result r = run();
  EXPECT_EQ(4, r.status) << r.err;
  EXPECT_EQ(c.installs ? 1u : 0u, installerRuns().size());
  EXPECT_EQ(1u, agentRuns().size());
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionTest,
                         ::testing::Values(VersionCase{"", "1.0.0", true},
                                           VersionCase{"0.9.9", "1.0.0", true},
                                           VersionCase{"1.0.0.beta", "1.0.0", true},
                                           VersionCase{"1.0.0", "1.0.0", false},
                                           VersionCase{"1.0.1", "1.0.0", false},
                                           VersionCase{"2.0", "10.0", true}));

TEST_F(E2eTest, InstalledAgentStartsInPlaceOfTheLauncher) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeInstaller(kInstaller, installsAgent("1.0.0", {"7"}));
  Result r = run();
  EXPECT_EQ(7, r.status) << r.err;
  EXPECT_EQ("", r.err);
  ASSERT_EQ(1u, installerRuns().size());
  EXPECT_EQ(r.pid, installerRuns()[0].ppid);
  ASSERT_EQ(1u, agentRuns().size());
  EXPECT_EQ(r.pid, agentRuns()[0].pid);
}

TEST_F(E2eTest, FirstRunInstallsThenWaitsThroughRestarts) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeInstaller(kInstaller, installsAgent("1.0.0", {"23", "5"}));
  Result r = run({"-wait", "-log", logPath});
  EXPECT_EQ(5, r.status) << r.err;
  ASSERT_EQ(1u, installerRuns().size());
  EXPECT_EQ(pkgDir + "//" + kInstaller, installerRuns()[0].argv[0]);
  EXPECT_EQ(2u, agentRuns().size());
  EXPECT_NE(std::string::npos, readFile(logPath).find("\nrc: (0)\n"));
}

TEST_F(E2eTest, PackageInstallerThenAgent) {
  Ini ini;
  ini.installerLocation = "agent.msi";
  writeIni(ini);
  write(pkgDir + "/agent.msi", "package");
  writeStandinInstaller(binDir + "/msiexec.exe", installsAgent("1.0.0", {"6"}));
  Result r = run();
  EXPECT_EQ(6, r.status) << r.err;
  EXPECT_EQ(1u, installerRuns().size());
  EXPECT_EQ(1u, agentRuns().size());
}

// ---------------------------------------------------------------------------
// The agent program

TEST_F(E2eTest, MissingAgentProgramReportsTheRequiredVersionNotThePath) {
  Ini ini;
  ini.launcher = "bin/nosuch";
  ini.version = "1.4";
  writeIni(ini);
  installAgent(agent("1.4"));
  Result r = run();
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(errorMessage(msgAgentNotFound("1.4")), r.err);
  EXPECT_TRUE(agentRuns().empty());
}

TEST_F(E2eTest, ExecModeAgentIsTheLauncherProcessAndItsStatusIsTheProcesss) {
  writeIni(Ini());
  installAgent(agent("1.0.0", {"42"}));
  Result r = run();
  EXPECT_EQ(42, r.status);
  ASSERT_EQ(1u, agentRuns().size());
  EXPECT_EQ(r.pid, agentRuns()[0].pid);
  EXPECT_EQ(getpid(), agentRuns()[0].ppid);
}

TEST_F(E2eTest, ExecModeAgentKilledBySignalKillsTheProcess) {
  writeIni(Ini());
  installAgent(agent("1.0.0", {"sig15"}));
  Result r = run();
  EXPECT_EQ(128 + 15, r.status);
  EXPECT_EQ(1u, agentRuns().size());
}

TEST_F(E2eTest, ExecModeAgentAskingForARestartIsNotRestarted) {
  writeIni(Ini());
  installAgent(agent("1.0.0", {"23", "0"}));
  Result r = run();
  EXPECT_EQ(23, r.status);
  EXPECT_EQ(1u, agentRuns().size());
}

TEST_F(E2eTest, AgentThatCannotReplaceTheLauncherEndsWith255) {
  writeIni(Ini());
  AgentInstall a = agent("1.0.0");
  a.executable = false;
  installAgent(a);
  Result r = run();
  EXPECT_EQ(255, r.status);
  EXPECT_EQ("", r.err);
  EXPECT_TRUE(agentRuns().empty());
}

// Existence is all the launcher checks before it starts a program; a
// directory passes that test and then fails to start.
TEST_F(E2eTest, AgentProgramThatIsADirectoryFailsToStart) {
  Ini ini;
  ini.launcher = "eclipse";
  writeIni(ini);
  installAgent(agent("1.0.0"));
  for (std::vector<std::string> args : {std::vector<std::string>{}, {"-wait"}}) {
    SCOPED_TRACE(args.size());
    Result r = run(args);
    EXPECT_EQ(255, r.status);
    EXPECT_EQ("", r.err);
  }
}

TEST_F(E2eTest, InstallerThatIsADirectoryFailsToStart) {
  Ini ini;
  ini.installerLocation = "installer";
  writeIni(ini);
  mkdirs(pkgDir + "/installer");
  Result r = run();
  EXPECT_EQ(255, r.status);
  EXPECT_EQ(errorMessage(msgInstallFailed(255)), r.err);
}

// ---------------------------------------------------------------------------
// Waiting for the agent and restarting it

struct WaitCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> outcomes;
  size_t runs;
  int status;
};
void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }

class WaitTest : public E2eTest,
                 public ::testing::WithParamInterface<WaitCase> {};

TEST_P(WaitTest, RunsTheAgentAsAChildWhileItExits23) {
  const WaitCase& c = GetParam();
  writeIni(Ini());
  installAgent(agent("1.0.0", c.outcomes));
  Result r = run(c.args);
  EXPECT_EQ(c.status, r.status);
  EXPECT_EQ("", r.err);
  std::vector<Record> runs = agentRuns();
  ASSERT_EQ(c.runs, runs.size());
  for (const Record& run : runs) {
    EXPECT_EQ(r.pid, run.ppid);
    EXPECT_EQ(runs[0].argv, run.argv);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, WaitTest,
    ::testing::Values(
        WaitCase{"Zero", {"-wait"}, {"0"}, 1, 0},
        WaitCase{"Status", {"-wait"}, {"9"}, 1, 9},
        WaitCase{"RestartLoop", {"-wait"}, {"23", "23", "23", "5"}, 4, 5},
        WaitCase{"RestartThenZero", {"-wait"}, {"23", "0"}, 2, 0},
        WaitCase{"SilentWaits", {"-silent"}, {"23", "23", "23", "5"}, 4, 5},
        WaitCase{"KilledBySigterm", {"-wait"}, {"sig15"}, 1, 143},
        WaitCase{"RestartThenKilled", {"-wait"}, {"23", "sig15"}, 2, 143},
        WaitCase{"KilledBySigkill", {"-wait"}, {"sig9"}, 1, 137}),
    [](const ::testing::TestParamInfo<WaitCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(E2eTest, SilentModeFromTheIniFileWaitsForTheAgent) {
  Ini ini;
  ini.silent = "true";
  writeIni(ini);
  installAgent(agent("1.0.0", {"23", "3"}));
  Result r = run();
  EXPECT_EQ(3, r.status);
  ASSERT_EQ(2u, agentRuns().size());
  EXPECT_EQ(r.pid, agentRuns()[1].ppid);
}

// ---------------------------------------------------------------------------
// Silent mode keeps every status and shows nothing

struct SilentCase {
  const char* name;
  const char* installerLocation;  // "" for none
  const char* installerOutcome;   // "" for no installer file
  int status;
};
void PrintTo(const SilentCase& c, std::ostream* os) { *os << c.name; }

class SilentFailureTest : public E2eTest,
                          public ::testing::WithParamInterface<SilentCase> {};

TEST_P(SilentFailureTest, SameStatusNoMessage) {
  const SilentCase& c = GetParam();
  Ini ini;
  ini.installerLocation = c.installerLocation;
  writeIni(ini);
  if (*c.installerOutcome) writeInstaller(kInstaller, exitsWith({c.installerOutcome}));
  for (const char* how : {"-silent", "SILENT=yes"}) {
    SCOPED_TRACE(how);
    std::vector<std::string> args;
    if (std::string(how) == "-silent") {
      args.push_back(how);
    } else {
      ini.silent = "yes";
      writeIni(ini);
    }
    Result r = run(args);
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ("", r.out);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SilentFailureTest,
    ::testing::Values(SilentCase{"NoInstaller", "", "", 1},
                      SilentCase{"InstallerMissing", kInstaller, "", 1},
                      SilentCase{"PackageMissing", "agent.msi", "", 1},
                      SilentCase{"InstallerFails", kInstaller, "3", 3},
                      SilentCase{"InstallerCancels", kInstaller, "232", 232},
                      SilentCase{"InstallerKilled", kInstaller, "sig9", 137},
                      SilentCase{"NothingInstalled", kInstaller, "0", 1}),
    [](const ::testing::TestParamInfo<SilentCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(E2eTest, SilentMissingAgentProgramHasNoMessage) {
  Ini ini;
  ini.launcher = "bin/nosuch";
  writeIni(ini);
  installAgent(agent("1.0.0"));
  Result r = run({"-silent"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("", r.err);
}

// ---------------------------------------------------------------------------
// Where the launcher finds itself, and so its INI file and installer

TEST_F(E2eTest, LauncherFindsItsIniAfterItsOwnName) {
  launcherName = "install.bin";
  Ini ini;
  ini.version = "9.9";
  writeIni(ini);  // install.ini
  EXPECT_EQ(pkgDir + "/install.ini", iniPath());
  Result r = run();
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(errorMessage(msgAgentNotFound("9.9")), r.err);
}

TEST_F(E2eTest, LauncherStartedThroughASymlinkReadsTheIniBesideTheLink) {
  std::string linkDir = root + "/links";
  mkdirs(linkDir);
  run();  // puts the launcher into the package
  ASSERT_EQ(0, symlink(launcherPath().c_str(), (linkDir + "/setup").c_str()));
  Ini ini;
  ini.version = "7.7";
  write(linkDir + "/setup.ini", ini.text());
  executable = linkDir + "/setup";
  Result r = runAs(linkDir + "/setup", {});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(errorMessage(msgAgentNotFound("7.7")), r.err);
}

struct SelfCase {
  const char* name;
  const char* argv0;
  bool cwdIsPackage;
  bool packageOnPath;
  const char* installerDir;  // launcherDir as the launcher finds it, relative
  bool executed;             // the kernel executes argv[0] itself, as a shell would
};
void PrintTo(const SelfCase& c, std::ostream* os) { *os << c.name; }

class SelfLocationTest : public E2eTest,
                         public ::testing::WithParamInterface<SelfCase> {};

TEST_P(SelfLocationTest, InstallerPathFollowsTheLauncherPath) {
  const SelfCase& c = GetParam();
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeInstaller(kInstaller, exitsWith({"232"}));
  run({"-help"});  // puts the launcher into the package
  if (c.cwdIsPackage) cwd = pkgDir;
  if (c.packageOnPath) setEnv("PATH", pkgDir + ":/usr/bin:/bin");
  if (c.executed) executable = c.argv0;
  Result r = runAs(*c.argv0 ? c.argv0 : launcherPath(), {});
  EXPECT_EQ(232, r.status) << r.err;
  ASSERT_EQ(1u, installerRuns().size());
  // Root's spelling is always the path the kernel executed.
  std::string dir = geteuid() == 0 && !c.executed ? "/" : c.installerDir;
  EXPECT_EQ(pkgDir + dir + "/" + kInstaller, installerRuns()[0].argv[0]);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SelfLocationTest,
    ::testing::Values(
        SelfCase{"Absolute", "", false, false, "/", false},
        SelfCase{"DotSlash", "./setup", true, false, "/./", true},
        SelfCase{"BareNameInCurrentDir", "setup", true, false, "/./", false},
        SelfCase{"BareNameOnPath", "setup", false, true, "/", false}),
    [](const ::testing::TestParamInfo<SelfCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(E2eTest, BareNameWithoutPathSearchesTheCurrentDirectoryOnly) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeInstaller(kInstaller, exitsWith({"232"}));
  run({"-help"});
  cwd = pkgDir;
  unsetEnv("PATH");
  Result r = runAs("setup", {});
  EXPECT_EQ(232, r.status) << r.err;
  ASSERT_EQ(1u, installerRuns().size());
  // Root's spelling is always the path the kernel executed.
  EXPECT_EQ(pkgDir + (geteuid() == 0 ? "//" : "/.//") + kInstaller, installerRuns()[0].argv[0]);
}

}  // namespace
}  // namespace e2e
