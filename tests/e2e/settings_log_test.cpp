// The diagnostic log as a file someone reads, and the settings as a caller
// sees their effect: whole logs byte for byte, what the children find of the
// log, and how INI values and options combine.
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

namespace e2e {
namespace {

const char kInstaller[] = "installer/install";

std::string sec(const std::string& title) {
  return "\n" + title + "\n" + std::string(54, '=') + "\n";
}

class LogTest : public E2eTest {
 protected:
  // Expected texts name the run's directories by placeholders.
  std::string expand(std::string text) const {
    const std::pair<const char*, std::string> names[] = {
        {"{pkg}", pkgDir}, {"{agent}", agentDir}, {"{root}", root},
        {"{log}", logPath}, {"{admin}", getuid() == 0 ? "1" : "0"}};
    for (const auto& n : names) {
      for (std::string::size_type at; (at = text.find(n.first)) != std::string::npos;) {
        text.replace(at, std::string(n.first).size(), n.second);
      }
    }
    return text;
  }

  // A shell script as the installer or the agent: it keeps a copy of the log
  // as it finds it and the list of its own open descriptors.
  void writeSpy(const std::string& path, int status) {
    write(path, expand("#!/bin/sh\ncat '{log}' > '{root}/log.seen'\n"
                       "ls -l /proc/$$/fd > '{root}/fds.seen'\nexit ") +
                    std::to_string(status) + "\n");
    ASSERT_EQ(0, chmod(path.c_str(), 0755));
  }
};

// The log of a run with the default Ini (no agent installed), up to the
// install decision.
std::string logUpToInstall(const std::string& installer, const std::string& mode,
                           const std::string& version) {
  return sec("Launcher info") +
         "launcherFullPath: ({pkg}/setup)\n"
         "launcherDir: ({pkg}/)\n"
         "launcherFile: (setup)\n"
         "launcherName: (setup)\n" +
         sec("INI File info") +
         "iniInstallerLocation: (" + installer + ")\n"
         "iniManagerLocationKey: (.quorvin/agent.key)\n"
         "iniManagerLocationFile: ()\n"
         "iniManagerVersion: (" + version + ")\n"
         "iniManagerLauncher: (bin/agent)\n"
         "iniManagerLauncherSilent: ()\n"
         "iniManagerInput: ()\n"
         "iniMode: (" + mode + ")\n"
         "iniSilent: ()\n"
         "iniIsAdmin: (false)\n"
         "iniAppDataLocation: ()\n"
         "iniNL: ()\n"
         "iniLicenseAccepted: ()\n" +
         sec("Commandline Arguments") +
         "argInputFile: ()\n"
         "argLogFile: ({log})\n"
         "argIsSilent: (0)\n"
         "argIsUserAdmin: (0)\n"
         "isDebug: (1)\n"
         "isWait: (0)\n"
         "argAppDataLocation: ()\n"
         "argNL: ()\n"
         "argLicenseAccepted: (0)\n" +
         sec("Mode") +
         "isSilent: (0)\n"
         "isDialogAllowed: (1)\n"
         "isUserAdmin: (0)\n"
         "isLicenseAccepted: (0)\n"
         "appDataLocation: ()\n"
         "nl: ()\n"
         "inputFile: ()\n" +
         sec("Get Installed Agent Info") +
         "iniManagerLocationKey: (.quorvin/agent.key)\n"
         "iniManagerLocationFile: ()\n"
         "isAdmin(): ({admin})\n"
         "isUserAdmin: (0)\n"
         "Get current agent location from Registry: \n"
         "iniManagerLocationKey: (.quorvin/agent.key)\n"
         "Get Installed QR Version: \n"
         "qrLocatoin: ()\n" +
         sec("Installed Agent Info") + "refVersion: ()\nrefLocation: ()\n" +
         sec("Expected Agent Info") +
         "refVersion: ()\niniManagerVersion: (" + version + ")\n"
         "Agent is not installed.  Prepare to install.\n";
}

// ---------------------------------------------------------------------------
// Whole logs

struct ModeLogCase {
  const char* name;
  const char* mode;  // MODE value, "" for no line
  const char* lines;
};
void PrintTo(const ModeLogCase& c, std::ostream* os) { *os << c.name; }

class ModeLogTest : public LogTest,
                    public ::testing::WithParamInterface<ModeLogCase> {};

TEST_P(ModeLogTest, LogEndsWithTheModeLines) {
  const ModeLogCase& c = GetParam();
  Ini ini;
  ini.mode = c.mode;
  ini.version = "2.5.1";
  writeIni(ini);
  // Longer than the new log: a file rewritten in place would keep a tail.
  write(logPath, std::string(20000, '#'));
  Result r = run({"-log", logPath});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(expand(logUpToInstall("", c.mode, "2.5.1") + c.lines), readFile(logPath));
}

#define INSTALL_LINES \
  "Running in INSTALL Mode.  \n" \
  "Agent is not detected on the system. Install cannot continue \n"

INSTANTIATE_TEST_SUITE_P(
    Modes, ModeLogTest,
    ::testing::Values(
        ModeLogCase{"NoMode", "", INSTALL_LINES},
        ModeLogCase{"Install", "INSTALL", INSTALL_LINES},
        ModeLogCase{"UninstallWithBlanks", " UNINSTALL ",
                    "Running in UNINSTALL Mode.  \n"
                    "Agent is not detected on the system. Uninstall cannot continue \n"},
        ModeLogCase{"Extension", "EXTENSION",
                    "Running in EXTENSION Mode.  \n"
                    "Agent is not detected on the system. Install cannot continue. \n"},
        ModeLogCase{"LowerCaseWordIsInstall", "extension", INSTALL_LINES}),
    [](const ::testing::TestParamInfo<ModeLogCase>& info) {
      return std::string(info.param.name);
    });

#undef INSTALL_LINES

// The agent that replaces the launcher finds the log complete and closed.
TEST_F(LogTest, ExecModeLogIsCompleteBeforeTheAgentRuns) {
  Ini ini;
  ini.installerArgs = {"i 1"};
  ini.managerArgs = {"m1", ""};
  ini.nl = "de";
  writeIni(ini);
  installAgent(agent("1.0.0"));
  writeSpy(agentDir + "/bin/agent", 0);
  Result r = run({"-log", logPath, "-nl", "", "-managerArgs", "x y", "-silent"});
  EXPECT_EQ(0, r.status) << r.err;
  std::string expected = expand(
      sec("Launcher info") +
      "launcherFullPath: ({pkg}/setup)\n"
      "launcherDir: ({pkg}/)\n"
      "launcherFile: (setup)\n"
      "launcherName: (setup)\n" +
      sec("INI File info") +
      "iniInstallerLocation: ()\n"
      "iniManagerLocationKey: (.quorvin/agent.key)\n"
      "iniManagerLocationFile: ()\n"
      "iniManagerVersion: (1.0.0)\n"
      "iniManagerLauncher: (bin/agent)\n"
      "iniManagerLauncherSilent: ()\n"
      "iniManagerInput: ()\n"
      "iniMode: ()\n"
      "iniSilent: ()\n"
      "iniIsAdmin: (false)\n"
      "iniAppDataLocation: ()\n"
      "iniNL: (de)\n"
      "iniLicenseAccepted: ()\n"
      "iniInstallerArgs[0]: (i 1)\n"
      "iniManagerArgs[0]: (m1)\n"
      "iniManagerArgs[1]: ()\n" +
      sec("Commandline Arguments") +
      "argInputFile: ()\n"
      "argLogFile: ({log})\n"
      "argIsSilent: (0)\n"
      "argIsUserAdmin: (0)\n"
      "isDebug: (1)\n"
      "isWait: (0)\n"
      "argAppDataLocation: ()\n"
      "argNL: ()\n"
      "argLicenseAccepted: (0)\n"
      "argManagerArgs[0]: (x y)\n"
      "argManagerArgs[1]: (-silent)\n" +
      sec("Mode") +
      "isSilent: (0)\n"
      "isDialogAllowed: (1)\n"
      "isUserAdmin: (0)\n"
      "isLicenseAccepted: (0)\n"
      "appDataLocation: ()\n"
      "nl: (de)\n"
      "inputFile: ()\n" +
      sec("Get Installed Agent Info") +
      "iniManagerLocationKey: (.quorvin/agent.key)\n"
      "iniManagerLocationFile: ()\n"
      "isAdmin(): ({admin})\n"
      "isUserAdmin: (0)\n"
      "Get current agent location from Registry: \n"
      "iniManagerLocationKey: (.quorvin/agent.key)\n"
      "Get Installed QR Version: \n"
      "qrLocatoin: ({agent})\n"
      "configFile: ({agent}/eclipse/configuration/config.ini)\n"
      "appDataDir: ({agent}/data)\n"
      "installedXMLFile: ({agent}/data/installed.xml)\n"
      "currVersion: (1.0.0)\n" +
      sec("Installed Agent Info") + "refVersion: (1.0.0)\nrefLocation: ({agent})\n" +
      sec("Expected Agent Info") + "refVersion: (1.0.0)\niniManagerVersion: (1.0.0)\n" +
      sec("Command to launch agent") +
      "AgentProgram: ({agent}/bin/agent)\n"
      "agentArglist[0]: ({agent}/bin/agent)\n"
      "agentArglist[1]: (-nl)\n"
      "agentArglist[2]: (de)\n"
      "agentArglist[3]: (\"x y\")\n"
      "agentArglist[4]: (-silent)\n"
      "isWait: (0)\n");
  EXPECT_EQ(expected, readFile(root + "/log.seen"));
  EXPECT_EQ(expected, readFile(logPath));
  std::string fds = readFile(root + "/fds.seen");
  EXPECT_NE("", fds);
  EXPECT_EQ(std::string::npos, fds.find(logPath)) << fds;
}

// Someone watching the log during a long installation sees every line so
// far; the installer itself never holds the log open.
TEST_F(LogTest, InstallerSeesTheLogUpToItsCommandLineAndNotItsDescriptor) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeSpy(pkgDir + "/" + kInstaller, 232);
  Result r = run({"-log", logPath});
  EXPECT_EQ(232, r.status);
  std::string seen = expand(logUpToInstall(kInstaller, "", "1.0.0") +
                            sec("Command to launch agent install") +
                            "installerArglist[0]: ({pkg}//installer/install)\n"
                            "installerArglist[1]: (-V)\n"
                            "installerArglist[2]: (STANDALONE=false)\n");
  EXPECT_EQ(seen, readFile(root + "/log.seen"));
  EXPECT_EQ(seen + expand(sec("Return code of agent installer") +
                          "rc: (232)\n"
                          "InstallerProgram: ({pkg}//installer/install)\n"
                          "Install Cancelled by user \n"),
            readFile(logPath));
  std::string fds = readFile(root + "/fds.seen");
  EXPECT_NE("", fds);
  EXPECT_EQ(std::string::npos, fds.find(logPath)) << fds;
}

TEST_F(LogTest, MissingIniLeavesAnExistingLogUntouched) {
  write(logPath, "earlier run\n");
  Result r = run({"-log", logPath});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("earlier run\n", readFile(logPath));
}

// ---------------------------------------------------------------------------
// Settings, seen from outside

struct SilentCase {
  const char* name;
  const char* iniSilent;
  std::vector<std::string> args;
  bool silent;
};
void PrintTo(const SilentCase& c, std::ostream* os) { *os << c.name; }

class SilentWordTest : public LogTest,
                       public ::testing::WithParamInterface<SilentCase> {};

// Silent: the agent is waited for (and so restarted on 23) and a failure
// shows nothing.
TEST_P(SilentWordTest, DecidesWaitingAndMessages) {
  const SilentCase& c = GetParam();
  Ini ini;
  ini.silent = c.iniSilent;
  writeIni(ini);
  installAgent(agent("1.0.0", {"23", "5"}));
  Result r = run(c.args);
  EXPECT_EQ(c.silent ? 5 : 23, r.status) << r.err;
  EXPECT_EQ(c.silent ? 2u : 1u, agentRuns().size());

  ini.version = "9.9";
  writeIni(ini);
  r = run(c.args);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(c.silent ? "" : errorMessage(msgAgentNotFound("9.9")), r.err);
}

INSTANTIATE_TEST_SUITE_P(
    Words, SilentWordTest,
    ::testing::Values(
        SilentCase{"YesInCapitals", "YES", {}, true},
        SilentCase{"TrueWithLeadingBlank", " true", {}, false},
        SilentCase{"TrueWithCarriageReturn", "true\r", {}, false},
        SilentCase{"One", "1", {}, false},
        SilentCase{"OptionBeatsIniFalse", "false", {"-silent"}, true},
        SilentCase{"OptionForTheAgentOnly", "", {"-managerArgs", "-silent"}, false}),
    [](const ::testing::TestParamInfo<SilentCase>& info) {
      return std::string(info.param.name);
    });

struct ValueCase {
  const char* name;
  void (*setup)(Ini&);
  std::vector<std::string> args;
  std::vector<std::string> agentGets;  // after the program path
};
void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }

class ValueSettingTest : public LogTest,
                         public ::testing::WithParamInterface<ValueCase> {};

TEST_P(ValueSettingTest, ReachesTheAgent) {
  const ValueCase& c = GetParam();
  Ini ini;
  c.setup(ini);
  writeIni(ini);
  installAgent(agent("1.0.0"));
  Result r = run(c.args);
  EXPECT_EQ(0, r.status) << r.err;
  std::vector<std::string> expected = {agentDir + "/bin/agent"};
  for (const std::string& a : c.agentGets) expected.push_back(expand(a));
  ASSERT_EQ(1u, agentRuns().size());
  EXPECT_EQ(expected, agentRuns()[0].argv);
}

INSTANTIATE_TEST_SUITE_P(
    Merge, ValueSettingTest,
    ::testing::Values(
        ValueCase{"EmptyNlFallsBackToIni", [](Ini& i) { i.nl = "de"; },
                  {"-nl", ""}, {"-nl", "de"}},
        ValueCase{"NlOptionBeatsIni", [](Ini& i) { i.nl = "de"; },
                  {"-nl", "fr"}, {"-nl", "fr"}},
        ValueCase{"ValueTakenVerbatim", [](Ini&) {}, {"-nl", "-help"},
                  {"-nl", "-help"}},
        ValueCase{"TrailingValueOptionDoesNothing", [](Ini& i) { i.nl = "de"; },
                  {"-nl"}, {"-nl", "de"}},
        ValueCase{"RelativeInputJoinsWithDoubledSlash",
                  [](Ini& i) { i.inputFile = "sub/../resp.xml"; }, {},
                  {"-input", "{pkg}//sub/../resp.xml"}},
        ValueCase{"InputOptionBeatsIniAndKeepsPercent",
                  [](Ini& i) { i.inputFile = "ini.xml"; }, {"-input", "r%s%d.xml"},
                  {"-input", "{pkg}//r%s%d.xml"}},
        ValueCase{"EmptyInputFallsBackToIni",
                  [](Ini& i) { i.inputFile = "/abs/ini.xml"; }, {"-input", ""},
                  {"-input", "/abs/ini.xml"}},
        ValueCase{"EmptyDataLocationFallsBackToIni",
                  [](Ini& i) { i.appDataLocation = "/d"; },
                  {"-appDataLocation", ""}, {"-dataLocation", "/d"}},
        ValueCase{"HelpWhileCollectingIsAnArgument", [](Ini&) {},
                  {"-managerArgs", "-help"}, {"-help"}}),
    [](const ::testing::TestParamInfo<ValueCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(LogTest, HelpShowsTheUsageAndEndsWithZeroBeforeTheLogOpens) {
  launcherName = "my.setup.bin";
  writeIni(Ini());
  installAgent(agent("1.0.0"));
  for (const char* help : {"-help", "-h", "-?", "/help", "/?"}) {
    SCOPED_TRACE(help);
    Result r = run({"-log", logPath, "-silent", help, "-wait"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("Usage: my.setup [-h] [-input INPUT_FILE] [-silent] "
              "[-licenseAccepted] [-installerArgs arg1 arg2...] "
              "[-managerArgs arg1 arg2 ...]\n",
              r.err);
    EXPECT_FALSE(exists(logPath));
    EXPECT_TRUE(agentRuns().empty());
  }
}

// "[INSTALLER]\r" is an unknown bracket line, so no section is ever open.
TEST_F(LogTest, IniWithCarriageReturnLineEndsSetsNothing) {
  Ini ini;
  ini.installerLocation = kInstaller;
  std::string text;
  for (char ch : ini.text()) text += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  writeIni(text);
  installAgent(agent("1.0.0"));
  writeInstaller(kInstaller, exitsWith({"0"}));
  Result r = run();
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(errorMessage(msgAgentNotFound("")), r.err);
  EXPECT_TRUE(installerRuns().empty());
  EXPECT_TRUE(agentRuns().empty());
}

}  // namespace
}  // namespace e2e
