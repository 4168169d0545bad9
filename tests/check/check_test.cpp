// launcher-check from outside: one broken package per problem class, and the
// dry run of a package held against what the launcher then really does.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "harness.h"

namespace e2e {
namespace {

// The ordinary user of the tests that explain or make a run for one.
const char kOtherUid[] = "65534";

// The tool is run through the harness's wrapper hook, which starts the
// wrapper with the package's launcher path as its first argument; a wrapper
// already set (a checker such as valgrind) runs the tool in turn.
class CheckTest : public E2eTest {
 protected:
  Result check(const std::vector<std::string>& args = {}, const std::string& options = "") {
    return runCheck(launcherPath(), args, options);
  }
  // `options` are the tool's own, blank-separated.
  Result runCheck(const std::string& first, const std::vector<std::string>& args,
                  const std::string& options = "") {
    const char* tool = std::getenv("CHECK_UNDER_TEST");
    if (!tool) {
      ADD_FAILURE() << "CHECK_UNDER_TEST must name the launcher-check binary";
      return Result();
    }
    const char* outer = std::getenv("E2E_WRAPPER");
    std::string saved = outer ? outer : "";
    setenv("E2E_WRAPPER", (saved + " " + tool + " " + options).c_str(), 1);
    Result r = runAs(first, args);
    if (outer) {
      setenv("E2E_WRAPPER", saved.c_str(), 1);
    } else {
      unsetenv("E2E_WRAPPER");
    }
    return r;
  }
  // The launcher itself as the ordinary user kOtherUid (setpriv comes with
  // util-linux), which needs to reach the package.
  Result runAsOtherUser(const std::vector<std::string>& args) {
    chmod(root.c_str(), 0755);
    const char* outer = std::getenv("E2E_WRAPPER");
    std::string saved = outer ? outer : "";
    std::string setpriv = std::string("/usr/bin/setpriv --reuid=") + kOtherUid +
                          " --regid=" + kOtherUid + " --clear-groups";
    setenv("E2E_WRAPPER", (setpriv + " " + saved).c_str(), 1);
    Result r = run(args);
    if (outer) {
      setenv("E2E_WRAPPER", saved.c_str(), 1);
    } else {
      unsetenv("E2E_WRAPPER");
    }
    return r;
  }
  void copyLauncher(mode_t mode) {
    std::string err;
    ASSERT_TRUE(standin::copyFile(std::getenv("LAUNCHER_UNDER_TEST"),
                                  launcherPath(), mode, &err)) << err;
  }
};

// The argument vector the text output shows after the line holding
// `heading`, with `agentDirectory` put in for the stand-in directory.
std::vector<std::string> shownArgv(const std::string& out, const std::string& heading,
                                   const std::string& agentDirectory = "") {
  std::vector<std::string> argv;
  size_t at = out.find(heading);
  if (at == std::string::npos) return argv;
  at = out.find('\n', at) + 1;
  const std::string prefix = "      argv[";
  while (out.compare(at, prefix.size(), prefix) == 0) {
    size_t end = out.find('\n', at);
    std::string quoted = out.substr(at, end - at);
    quoted = quoted.substr(quoted.find("= \"") + 3);
    quoted.pop_back();
    std::string arg;
    for (size_t i = 0; i < quoted.size(); ++i) {
      if (quoted[i] == '\\') ++i;
      arg += quoted[i];
    }
    size_t standIn = arg.find("<agent directory>");
    if (standIn != std::string::npos) arg.replace(standIn, 17, agentDirectory);
    argv.push_back(arg);
    at = end + 1;
  }
  return argv;
}

// ---------------------------------------------------------------------------
// One broken package per problem class

const char kGood[] =
    "[INSTALLER]\nLOCATION=installer/install\n"
    "[MANAGER]\nLOCATION_KEY=.quorvin/agent.key\nVERSION=1.0.0\nLAUNCHER=bin/agent\n"
    "[COMMON]\nISADMIN=false\n";

enum Setup { NONE, NO_INI, OTHER_NAME, LAUNCHER_0644, INSTALLER_0644,
             INSTALLER_DIR, NO_INSTALLER_FILE, MSI_FILE, INSTALLER_CRLF,
             INSTALLER_NO_INTERPRETER, INSTALLER_TEXT, INI_0600, INSTALLER_0700,
             AGENT_CRLF, SHARED_DIR, FOREIGN_AGENT };

struct ProblemCase {
  const char* code;
  std::string ini;  // PKG/ = package
  Setup setup;
  const char* line;  // "<file>:<line>: <severity>: <message start>"
  const char* fix;
  int status;
  std::vector<std::string> args = {};  // the launcher's
  std::string options = "";  // the tool's
};
void PrintTo(const ProblemCase& c, std::ostream* os) { *os << c.code; }

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string longValue() { return "ARG=" + std::string(300, 'x') + "\n"; }

class ProblemTest : public CheckTest,
                    public ::testing::WithParamInterface<ProblemCase> {};

TEST_P(ProblemTest, ReportsTheLineTheSeverityAndTheStatus) {
  const ProblemCase& c = GetParam();
  auto expanded = [&](std::string text) {
    for (size_t at; (at = text.find("PKG/")) != std::string::npos;) {
      text.replace(at, 3, pkgDir);
    }
    for (size_t at; (at = text.find("AGENT/")) != std::string::npos;) {
      text.replace(at, 5, agentDir);
    }
    return text;
  };
  const std::pair<e2e::Setup, const char*> scripts[] = {
      {INSTALLER_CRLF, "#!/bin/sh\r\nexit 0\r\n"},
      {INSTALLER_NO_INTERPRETER, "#!/nonexistent/sh\nexit 0\n"},
      {INSTALLER_TEXT, "exit 0\n"}};
  if (c.setup == OTHER_NAME) launcherName = "install";
  if (c.setup != NO_INI) write(pkgDir + "/setup.ini", expanded(c.ini));
  if (c.setup == LAUNCHER_0644) copyLauncher(0644);
  if (c.setup == INSTALLER_DIR) mkdirs(pkgDir + "/installer/install");
  if (c.setup == MSI_FILE) write(pkgDir + "/installer/agent.msi", "msi");
  if (c.setup == NONE || c.setup == INSTALLER_0644 || c.setup == LAUNCHER_0644 ||
      c.setup == AGENT_CRLF || c.setup == SHARED_DIR || c.setup == INI_0600) {
    writeInstaller("installer/install", installsAgent("1.0.0"));
  }
  if (c.setup == INSTALLER_0644) chmod((pkgDir + "/installer/install").c_str(), 0644);
  for (const auto& script : scripts) {
    if (c.setup != script.first) continue;
    write(pkgDir + "/installer/install", script.second);
    chmod((pkgDir + "/installer/install").c_str(), 0755);
  }
  if (c.setup == INI_0600) chmod(iniPath().c_str(), 0600);
  if (c.setup == INSTALLER_0700) {
    writeInstaller("installer/install", installsAgent("1.0.0"));
    chmod((pkgDir + "/installer/install").c_str(), 0700);
  }
  if (c.setup == AGENT_CRLF) {
    installAgent(agent("1.0.0"));
    write(agentDir + "/bin/agent", "#!/bin/sh\r\nexit 0\r\n");
  }
  if (c.setup == FOREIGN_AGENT) {
    // As tar leaves an archive's user ids when root unpacks it.
    installAgent(agent("1.0.0"));
    EXPECT_EQ(0, lchown((agentDir + "/bin/agent").c_str(), 65534, 65534));
  }
  if (c.setup == SHARED_DIR) {
    mkdirs(pkgDir + "/shared");
    chmod((pkgDir + "/shared").c_str(), 0777);
  }
  // An ordinary user must reach the package to be told more than that.
  if (c.options.find("--as-user") != std::string::npos) chmod(root.c_str(), 0755);

  Result r = check(c.args, expanded(c.options));
  std::string line = expanded(c.line);
  size_t at = r.out.find("\n  " + line);
  ASSERT_NE(std::string::npos, at) << r.out << r.err;
  EXPECT_NE(std::string::npos, r.out.find("\n      instead: " + expanded(c.fix), at))
      << r.out;
  EXPECT_EQ(c.status, r.status);

  // The matrix gives the same verdict, where an ordinary user with a home
  // of their own fares as root does.
  std::string userHome = root + "/user";
  mkdirs(userHome);
  ASSERT_EQ(0, chown(userHome.c_str(), 65534, 65534));
  chmod(root.c_str(), 0755);
  EXPECT_EQ(c.status, check(c.args, "--matrix --as-user=65534 --home " + userHome).status);
  EXPECT_TRUE(installerRuns().empty());
}

const std::string kG = kGood;
INSTANTIATE_TEST_SUITE_P(Classes, ProblemTest, ::testing::Values(
    ProblemCase{"ini-missing", "", NO_INI,
                "PKG/setup.ini: error: the INI file cannot be read", "setup.ini beside setup", 1},
    ProblemCase{"ini-other-name", kG, OTHER_NAME,
                "PKG/install.ini: error: there is no install.ini, but setup.ini",
                "rename setup.ini to install.ini", 1},
    ProblemCase{"launcher-not-executable", kG, LAUNCHER_0644,
                "PKG/setup: error: the launcher PKG/setup: not executable", "chmod 755", 1},
    ProblemCase{"crlf", replaced(replaced(kG, "]\n", "]\r\n"), "0\n", "0\r\n"), NONE,
                "PKG/setup.ini:1: error: 2 lines end with CR LF", "save the file with LF line ends", 1},
    ProblemCase{"text-before-section", "VERSION=2.0\n" + kG, NONE,
                "PKG/setup.ini:1: warning: text before the first section", "put it under", 0},
    ProblemCase{"unknown-section", kG + "[installer]\nARG=x\n", NONE,
                "PKG/setup.ini:9: warning: unknown section \"[installer]\"", "[INSTALLER]", 0},
    ProblemCase{"wrong-section", replaced(kG, "[MANAGER]\n", "SILENT=true\n[MANAGER]\n"), NONE,
                "PKG/setup.ini:3: warning: SILENT belongs in [COMMON]", "move the line to [COMMON]", 0},
    ProblemCase{"unknown-key", replaced(kG, "LOCATION=", "LOCATON="), NONE,
                "PKG/setup.ini:2: warning: unknown key \"LOCATON\"", "LOCATION=installer/install", 1},
    ProblemCase{"blank-key", replaced(kG, "VERSION=", "VERSION = "), NONE,
                "PKG/setup.ini:5: error: blanks around the key", "VERSION=1.0.0", 1},
    ProblemCase{"blank-value", kG + "SILENT= yes\n", NONE,
                "PKG/setup.ini:9: error: blanks around the value of SILENT", "SILENT=yes", 1},
    ProblemCase{"duplicate-key", replaced(kG, "LAUNCHER=", "VERSION=2.0\nLAUNCHER="), NONE,
                "PKG/setup.ini:6: warning: VERSION is given again in [MANAGER] (first on line 5)",
                "keep one VERSION line", 0},
    // A long line is one line: one finding, about its key.
    ProblemCase{"long-line", replaced(kG, "[MANAGER]\n", "LOCATON=" + longValue() + "[MANAGER]\n"), NONE,
                "PKG/setup.ini:3: warning: unknown key \"LOCATON\"", "LOCATION=ARG=xxx", 0},
    ProblemCase{"bad-boolean", kG + "SILENT=1\n", NONE,
                "PKG/setup.ini:9: warning: SILENT=1 is none of the words", "SILENT=true", 0},
    ProblemCase{"bad-mode", replaced(kG, "[COMMON]", "MODE=install\n[COMMON]"), NONE,
                "PKG/setup.ini:7: warning: MODE=install names no launch mode", "MODE=INSTALL", 0},
    ProblemCase{"empty-version", replaced(kG, "VERSION=1.0.0\n", ""), NONE,
                "PKG/setup.ini: warning: no VERSION in [MANAGER]", "VERSION=", 0},
    ProblemCase{"bad-version", replaced(kG, "=1.0.0", "=v2.1"), NONE,
                "PKG/setup.ini:5: error: VERSION=v2.1 is not", "VERSION=2.1", 1},
    ProblemCase{"no-location", replaced(kG, "LOCATION_KEY=.quorvin/agent.key\n", ""), NONE,
                "PKG/setup.ini: error: neither LOCATION_KEY nor LOCATION_FILE", "LOCATION_KEY=", 1},
    ProblemCase{"both-locations", replaced(kG, "VERSION", "LOCATION_FILE=<HOME>/r\nVERSION"), NONE,
                "PKG/setup.ini:5: warning: both LOCATION_KEY and LOCATION_FILE", "keep one", 0},
    ProblemCase{"bad-placeholder", replaced(kG, "_KEY=.quorvin/agent.key", "_FILE=<HOMEDIR>/r"), NONE,
                "PKG/setup.ini:4: error: LOCATION_FILE holds \"<HOMEDIR>\"", "<HOME>", 1},
    ProblemCase{"second-placeholder", replaced(kG, "_KEY=.quorvin/agent.key", "_FILE=<CURRDIR><HOME>"), NONE,
                "PKG/setup.ini:4: error: LOCATION_FILE holds more than one placeholder", "one placeholder", 1},
    ProblemCase{"empty-launcher", replaced(kG, "LAUNCHER=bin/agent\n", ""), NONE,
                "PKG/setup.ini: error: no LAUNCHER in [MANAGER]", "LAUNCHER=", 1},
    ProblemCase{"installer-missing", kG, NO_INSTALLER_FILE,
                "PKG/setup.ini:2: error: the installer PKG//installer/install: No such file",
                "put the installer there", 1},
    ProblemCase{"installer-not-file", kG, INSTALLER_DIR,
                "PKG/setup.ini:2: error: the installer PKG//installer/install: not a regular file",
                "put the installer there", 1},
    ProblemCase{"installer-not-executable", kG, INSTALLER_0644,
                "PKG/setup.ini:2: error: the installer PKG//installer/install: not executable",
                "chmod 755", 1},
    ProblemCase{"no-msiexec", replaced(kG, "installer/install", "installer/agent.msi"), MSI_FILE,
                "PKG/setup.ini:2: error: a .msi installer needs msiexec.exe", "a native installer", 1},
    ProblemCase{"no-installer", replaced(kG, "LOCATION=installer/install\n", ""), NONE,
                "PKG/setup.ini: warning: no LOCATION in [INSTALLER]", "LOCATION=", 1},
    ProblemCase{"input-missing", kG + "[MANAGER]\nINPUT_FILE=answers.xml\n", NONE,
                "PKG/setup.ini:10: warning: INPUT_FILE names PKG//answers.xml", "put the file", 0},
    ProblemCase{"run-fails", replaced(kG, "LOCATION=installer/install\n", ""), NONE,
                "PKG/setup.ini: error: the run cannot succeed for ", "LOCATION=<your installer>", 1},
    ProblemCase{"byte-order-mark", "\xef\xbb\xbf" + kG, NONE,
                "PKG/setup.ini:1: error: the file begins with a byte-order mark (the invisible",
                "save the file without a byte-order mark", 1},
    ProblemCase{"quoted-value", replaced(kG, "=bin/agent", "=\"bin/agent\""), NONE,
                "PKG/setup.ini:6: error: the quotes around the value of LAUNCHER", "LAUNCHER=bin/agent", 1},
    ProblemCase{"quoted-version", replaced(kG, "=1.0.0", "=\"2.3.0\""), NONE,
                "PKG/setup.ini:5: error: VERSION=\"2.3.0\" is not major.minor.micro[.qualifier] in "
                "digits: the launcher compares agents with 0.3.0, not 2.3.0", "VERSION=2.3.0", 1},
    ProblemCase{"installer-crlf", kG, INSTALLER_CRLF,
                "PKG/setup.ini:2: error: the installer PKG//installer/install: the #! line ends "
                "with a carriage return", "save PKG//installer/install with LF line ends", 1},
    ProblemCase{"installer-no-interpreter", kG, INSTALLER_NO_INTERPRETER,
                "PKG/setup.ini:2: error: the installer PKG//installer/install: interpreter "
                "\"/nonexistent/sh\" not found", "name an interpreter", 1},
    ProblemCase{"installer-no-format", kG, INSTALLER_TEXT,
                "PKG/setup.ini:2: error: the installer PKG//installer/install: no known executable "
                "format", "a program for this machine", 1},
    ProblemCase{"agent-cannot-start", kG, AGENT_CRLF,
                "PKG/setup.ini:6: error: the agent program ", "save ", 1},
    ProblemCase{"unknown-option", kG, NONE,
                "command line: warning: \"--silent\" is no launcher option", "-silent", 0, {"--silent"}},
    ProblemCase{"option-without-value", kG, NONE,
                "command line: warning: -nl is the last argument", "-nl VALUE", 0, {"-nl"}},
    ProblemCase{"bad-language", kG, NONE, "command line: warning: -nl english is no language tag",
                "-nl <a language tag", 0, {"-nl", "english"}},
    ProblemCase{"option-collected", kG, NONE,
                "command line: warning: -silent comes after -managerArgs", "put -silent before", 0,
                {"-managerArgs", "x", "-silent"}},
    ProblemCase{"quoted-argument", kG, NONE,
                "command line: warning: the argument \"a b\" holds a blank, so the agent receives "
                "it wrapped in double quotes", "make the agent remove the quotes", 0,
                {"-managerArgs", "a b"}},
    ProblemCase{"log-not-writable", kG, NONE,
                "command line: warning: -log /nonexistent/run.log: there is no directory",
                "-log <a file", 0, {"-log", "/nonexistent/run.log"}},
    ProblemCase{"absolute-key-per-user", replaced(kG, "=.quorvin/agent.key", "=/etc/qv.key"), NONE,
                "PKG/setup.ini:4: warning: LOCATION_KEY=/etc/qv.key looks machine-wide, but run by user",
                "LOCATION_KEY=etc/qv.key", 0, {}, "--as-user=65534 --home /tmp"},
    ProblemCase{"relative-key-admin", replaced(kG, "ISADMIN=false\n", ""), NONE,
                "PKG/setup.ini:4: warning: LOCATION_KEY=.quorvin/agent.key is relative, and run by root",
                "an absolute LOCATION_KEY", 0, {}, "--as-root"},
    ProblemCase{"not-admin-as-root", kG, NONE,
                "PKG/setup.ini:8: warning: ISADMIN=false: run by root", "keep it only when", 0, {},
                "--as-root"},
    ProblemCase{"ini-not-readable", kG, INI_0600,
                "PKG/setup.ini: error: the INI file cannot be read by user", "chmod a+r", 1, {},
                "--as-user=65534"},
    ProblemCase{"installer-not-runnable", kG, INSTALLER_0700,
                "PKG/setup.ini:2: error: the installer PKG//installer/install: not executable",
                "chmod 755", 1, {}, "--as-user=65534"},
    ProblemCase{"untrusted-location",
                replaced(replaced(kG, "=.quorvin/agent.key", "=PKG/shared/agent.key"),
                         "ISADMIN=false\n", ""),
                SHARED_DIR, "PKG/setup.ini:4: error: the location key file PKG/shared/agent.key: "
                            "PKG/shared is writable by others",
                "a location only root may write", 1, {}, "--as-root"},
    ProblemCase{"untrusted-agent-file", kG, FOREIGN_AGENT,
                "AGENT/bin/agent: error: AGENT/bin/agent is owned by uid 65534",
                "make it and every directory above it root's", 1, {},
                "--as-root"}));

TEST_F(CheckTest, UsageMistakesEndWithTwo) {
  writeIni(Ini());
  Result unknownOption = runCheck("--jsn", {});
  Result noLauncher = runCheck("--json", {});
  EXPECT_EQ(2, unknownOption.status);
  EXPECT_EQ(2, noLauncher.status);
  EXPECT_NE(std::string::npos, noLauncher.err.find("usage: launcher-check"));
}

// ---------------------------------------------------------------------------
// The dry run against the real run

void copyExample(const std::string& pkgDir) {
  std::string err;
  for (const char* file : {"setup.ini", "installer/install.sh", "agent/demo-agent"}) {
    ASSERT_TRUE(standin::copyFile(std::string(CHECK_EXAMPLES_DIR) + "/" + file,
                                  pkgDir + "/" + file, 0755, &err)) << err;
  }
}

// What the demo agent printed: one "  [arg]" line per argument.
std::vector<std::string> printedArgs(const std::string& out) {
  std::vector<std::string> args;
  size_t at = 0;
  while ((at = out.find("\n  [", at)) != std::string::npos) {
    size_t end = out.find("]\n", at);
    args.push_back(out.substr(at + 4, end - at - 4));
    at = end;
  }
  return args;
}

TEST_F(CheckTest, DemoPackageRunsAsTheDryRunSays) {
  copyExample(pkgDir);
  const std::vector<std::string> args = {"-nl", "de", "-managerArgs", "a b", "c"};
  const std::string agentDirectory = home + "/.local/share/quorvin-demo/agent";

  Result before = check(args);
  EXPECT_EQ(0, before.status) << before.out;
  EXPECT_NE(std::string::npos, before.out.find("Problems: 0 errors"));
  EXPECT_EQ(pkgDir + "//installer/install.sh",
            shownArgv(before.out, "The installer would run").at(0));
  std::vector<std::string> predicted =
      shownArgv(before.out, "known only after the installer", agentDirectory);

  Result real = run(args);
  ASSERT_EQ(0, real.status) << real.err;
  std::vector<std::string> received = printedArgs(real.out);
  ASSERT_FALSE(predicted.empty());
  EXPECT_EQ(std::vector<std::string>(predicted.begin() + 1, predicted.end()), received);

  Result after = check(args);
  EXPECT_EQ(predicted, shownArgv(after.out, "The agent would start (replacing the launcher)",
                                 agentDirectory));
  EXPECT_EQ(std::string::npos, after.out.find("The installer would run"));

  // As on a machine without the agent: the installer runs again, and the
  // key it must write is named where the launcher will read it.
  Result clean = check(args, "--clean");
  EXPECT_NE(std::string::npos, clean.out.find("The installer would run"));
  EXPECT_NE(std::string::npos,
            clean.out.find("    " + home + "/.quorvin-demo/location\n        location=<agent "
                           "directory>\n"))
      << clean.out;
}

TEST_F(CheckTest, StrictCountsWarnings) {
  write(iniPath(), kGood + std::string("SILENT=1\n"));
  writeInstaller("installer/install", installsAgent("1.0.0"));
  EXPECT_EQ(0, check().status);
  EXPECT_EQ(1, check({}, "--strict").status);
}

// CR LF line ends spoil every line: the problems that follow from them are
// listed under them, not counted, and the run's fix is theirs.
TEST_F(CheckTest, ACauseCountsAloneWithItsConsequencesUnderIt) {
  std::string crlf;
  for (char c : std::string(kGood)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  write(iniPath(), crlf);
  writeInstaller("installer/install", installsAgent("1.0.0"));
  Result r = check();
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.out.find("Problems: 1 error, 0 warnings\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("because of it, also: ")) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find("instead: LOCATION_KEY=")) << r.out;
}

// Of the two words a fix offers, the one that breaks the ordinary user's
// run (admin mode reads the key in a package the user may not write) is
// not the one shown.
TEST_F(CheckTest, AFixIsOneThatBreaksNoRow) {
  write(iniPath(), replaced(kGood, "ISADMIN=false", "ISADMIN=maybe"));
  writeInstaller("installer/install", installsAgent("1.0.0"));
  chmod(root.c_str(), 0755);
  Result r = check({}, "--matrix");
  EXPECT_NE(std::string::npos, r.out.find("instead: ISADMIN=false (ISADMIN=true gives ")) << r.out;
}

TEST_F(CheckTest, DoubleQuotesInTheInstalledPackagesFileAreNamed) {
  write(iniPath(), kGood);
  writeInstaller("installer/install", installsAgent("1.0.0"));
  installAgent(agent("1.0.0"));
  write(agentDir + "/data/installed.xml",
        "<package id=\"com.telvane.quorvin.agent\" version=\"1.0.0\"/>\n");
  Result r = check();
  EXPECT_NE(std::string::npos, r.out.find("uses double quotes")) << r.out;
}

struct RunCase {
  const char* name;
  std::vector<std::string> args;
  bool waited;
};
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class DryRunTest : public CheckTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(DryRunTest, SameVectorsAndSameDecisionAsTheRealRun) {
  Ini ini;
  ini.installerLocation = "installer/install";
  ini.installerArgs = {"from ini"};
  ini.appDataLocation = "/data dir";
  ini.inputFile = "answers.xml";
  writeIni(ini);
  write(pkgDir + "/answers.xml", "<answers/>");
  writeInstaller("installer/install", installsAgent("1.0.0"));
  const std::vector<std::string>& args = GetParam().args;
  const char* start = GetParam().waited ? "(waited for)" : "(replacing the launcher)";

  Result before = check(args);
  EXPECT_EQ(0, before.status) << before.out;
  EXPECT_TRUE(installerRuns().empty());
  EXPECT_FALSE(exists(workDir + "/run.log"));
  std::vector<std::string> installer = shownArgv(before.out, "The installer would run");
  std::vector<std::string> predicted =
      shownArgv(before.out, "known only after the installer", agentDir);
  EXPECT_NE(std::string::npos, before.out.find("directory D, it is " + std::string(start)));

  Result real = run(args);
  ASSERT_EQ(1u, installerRuns().size()) << real.err;
  EXPECT_EQ(installer, installerRuns()[0].argv);
  for (const std::string name : {"QUORVIN_LOCATION_FILE", "QUORVIN_ADMIN", "QUORVIN_PACKAGE_DIR"}) {
    EXPECT_NE(std::string::npos,
              before.out.find("      " + name + " = \"" +
                              varValue(installerRuns()[0].env, name) + "\"\n"))
        << name;
  }
  ASSERT_EQ(1u, agentRuns().size());
  EXPECT_EQ(predicted, agentRuns()[0].argv);
  EXPECT_EQ(GetParam().waited, agentRuns()[0].pid != real.pid);

  Result after = check(args);
  EXPECT_EQ(predicted, shownArgv(after.out, "The agent would start " + std::string(start)));
}

INSTANTIATE_TEST_SUITE_P(Runs, DryRunTest, ::testing::Values(
    RunCase{"plain", {}, false},
    RunCase{"wait", {"-wait", "-appDataLocation", "/other", "-nl", "fr", "-log", "run.log"}, true},
    RunCase{"silent", {"-silent", "-licenseAccepted", "-installerArgs", "x y",
                       "-managerArgs", "-help"}, true}));

// ---------------------------------------------------------------------------
// Root and an ordinary user: the matrix against real runs

// A shell installer that records the agent in `key` and installs it in
// `dir` (both expanded by the shell, so $HOME is the installing user's).
std::string shellInstaller(const std::string& key, const std::string& dir) {
  return "#!/bin/sh\nset -e\nkey=" + key + "\ndir=" + dir +
         "\nmkdir -p \"$dir/eclipse/configuration\" \"$dir/data\" \"$(dirname \"$key\")\"\n"
         "echo \"zel.appDataLocation=$dir/data\" >\"$dir/eclipse/configuration/config.ini\"\n"
         "echo \"<package id='com.telvane.quorvin.agent' version='1.0.0'/>\" "
         ">\"$dir/data/installed.xml\"\n"
         "printf '#!/bin/sh\\necho agent ran\\n' >\"$dir/agent\"\nchmod 755 \"$dir/agent\"\n"
         "echo \"location=$dir\" >\"$key\"\n";
}

struct MatrixCase {
  const char* name;
  std::string key;        // LOCATION_KEY, PKG/ = the test's root
  std::string installer;  // its key and agent directory, as shellInstaller takes them
  std::string agentDir;
  bool rootWorks, userWorks;
  const char* risk;  // the dry run's warning for the row that fails
};
void PrintTo(const MatrixCase& c, std::ostream* os) { *os << c.name; }

class MatrixTest : public CheckTest, public ::testing::WithParamInterface<MatrixCase> {};

TEST_P(MatrixTest, PredictsTheRealRunsOfRootAndAnOrdinaryUser) {
  const MatrixCase& c = GetParam();
  auto expanded = [&](std::string text) {
    size_t at = text.find("PKG/");
    if (at != std::string::npos) text.replace(at, 3, root);
    return text;
  };
  write(iniPath(), "[INSTALLER]\nLOCATION=install\n[MANAGER]\nLOCATION_KEY=" +
                       expanded(c.key) + "\nVERSION=1.0.0\nLAUNCHER=agent\n");
  write(pkgDir + "/install", shellInstaller(expanded(c.installer), expanded(c.agentDir)));
  chmod((pkgDir + "/install").c_str(), 0755);
  std::string userHome = root + "/user";
  mkdirs(userHome);
  ASSERT_EQ(0, chown(userHome.c_str(), 65534, 65534));
  chmod(root.c_str(), 0755);

  // Each layout works with an installer that writes the key where the
  // launcher says; these installers do not, which only a trial can see. The
  // dry run names the risk of the layout for the row whose run fails.
  Result matrix = check({}, "--matrix --as-user=65534 --home " + userHome);
  EXPECT_EQ(0, matrix.status) << matrix.out;
  std::string rows = c.rootWorks ? "[3,4] " : "[1,2] ";
  EXPECT_NE(std::string::npos, matrix.out.find(rows + pkgDir + "/setup.ini:4: warning: " + expanded(c.risk)))
      << matrix.out;

  Result asRoot = run();
  EXPECT_EQ(c.rootWorks, asRoot.status == 0 && asRoot.out == "agent ran\n") << asRoot.err;
  setEnv("HOME", userHome);
  Result asUser = runAsOtherUser({});
  EXPECT_EQ(c.userWorks, asUser.status == 0 && asUser.out == "agent ran\n") << asUser.err;
}

INSTANTIATE_TEST_SUITE_P(Packages, MatrixTest, ::testing::Values(
    // An absolute key is read under the home directory of an ordinary user.
    MatrixCase{"onlyRoot", "PKG/machine/agent.key", "PKG/machine/agent.key",
               "PKG/machine/agent", true, false,
               "LOCATION_KEY=PKG/machine/agent.key looks machine-wide"},
    // A relative key is read in the package directory in admin mode.
    MatrixCase{"onlyUser", ".qv/agent.key", "$HOME/.qv/agent.key", "$HOME/qv-agent",
               false, true, "LOCATION_KEY=.qv/agent.key is relative"}));

// ---------------------------------------------------------------------------
// One verdict per command, package bytes never raw on the terminal, and
// package files that are links out of the package

class VerdictTest : public CheckTest {
 protected:
  void SetUp() override {
    CheckTest::SetUp();
    // Trials need a scratch directory the ordinary user may use too.
    chmod(root.c_str(), 0755);
    std::string scratch = root + "/tmp";
    mkdirs(scratch);
    chmod(scratch.c_str(), 01777);
    setEnv("TMPDIR", scratch);
    userHome = root + "/user";
    mkdirs(userHome);
    ASSERT_EQ(0, chown(userHome.c_str(), 65534, 65534));
  }
  // Works for root and for a user with a home; SILENT=1 is a warning.
  void writePackage(const std::string& installer) {
    write(iniPath(), "[INSTALLER]\nLOCATION=install\n[MANAGER]\nLOCATION_KEY=.qv/agent.key\n"
                     "VERSION=1.0.0\nLAUNCHER=agent\n[COMMON]\nISADMIN=false\nSILENT=1\n");
    write(pkgDir + "/install", installer);
    chmod((pkgDir + "/install").c_str(), 0755);
  }
  std::string userHome;
};

struct VerdictCase {
  const char* options;  // USER_HOME: the ordinary user's home
  bool installerFails;  // exits 3
  int status;
  bool contradicted;
};

TEST_F(VerdictTest, JsonExitStatusIsTheExitStatusInEveryMode) {
  const VerdictCase cases[] = {
      {"", false, 0, false},
      {"--strict", false, 1, false},
      {"--as-root", false, 0, false},
      {"--as-user=65534 --home USER_HOME", false, 0, false},
      {"--matrix --as-user=65534 --home USER_HOME", false, 0, false},
      {"--trial --as-root", false, 0, false},
      {"--trial --strict --as-root", false, 1, false},
      {"--trial --as-root", true, 1, false},
      {"--trial --matrix --as-user=65534 --home USER_HOME", false, 0, false},
      // The dry run sees no home, the trial makes one: the trial decides.
      {"--trial --as-user=65534 --home /nonexistent", false, 0, true},
  };
  for (const VerdictCase& c : cases) {
    writePackage(c.installerFails ? "#!/bin/sh\nexit 3\n"
                                  : shellInstaller("$HOME/.qv/agent.key", "$HOME/qv-agent"));
    std::string options = replaced(c.options, "USER_HOME", userHome);
    Result text = check({}, options);
    Result json = check({}, "--json " + options);
    EXPECT_EQ(c.status, text.status) << options << "\n" << text.out;
    EXPECT_EQ(c.status, json.status) << options;
    EXPECT_NE(std::string::npos,
              json.out.find("\"exitStatus\": " + std::to_string(c.status) + ",")) << options;
    EXPECT_EQ(c.contradicted,
              text.out.find("(predicted: fails; trial: works)") != std::string::npos)
        << options << "\n" << text.out;
  }
}

TEST_F(VerdictTest, NoControlByteFromThePackageReachesTheText) {
  write(iniPath(), "[INSTALLER]\nLOCATION=install\nARG=\x1b]0;title\x07\n[MANAGER]\n"
                   "LOCATION_KEY=.qv/agent.key\nVERSION=1.0.0\nLAUNCHER=agent\x1b[2J\xff\n"
                   "[COMMON]\nISADMIN=false\n");
  write(pkgDir + "/install",
        shellInstaller("$HOME/.qv/agent.key", "$HOME/qv-agent") +
            "printf '\\033]0;owned\\007\\033[2J\\n'\n"
            "touch \"$HOME/caf\xc3\xa9$(printf 'x\\nVerdict: every item holds\\033[1A\\033[2K')\"\n");
  chmod((pkgDir + "/install").c_str(), 0755);
  for (const char* options : {"", "--trial --as-root"}) {
    Result r = check({}, options);
    for (char c : r.out) {
      unsigned char byte = static_cast<unsigned char>(c);
      ASSERT_TRUE((byte >= 0x20 && byte != 0x7f && byte != 0xff) || byte == '\n')
          << options << ": byte " << static_cast<int>(byte) << " in\n" << r.out;
    }
    EXPECT_NE(std::string::npos, r.out.find("agent\\e[2J\\xff")) << r.out;
  }
  Result trial = check({}, "--trial --as-root");
  EXPECT_NE(std::string::npos,
            trial.out.find("caf\xc3\xa9x\\nVerdict: every item holds\\e[1A\\e[2K")) << trial.out;
  EXPECT_EQ(std::string::npos, trial.out.find("\nVerdict: every")) << trial.out;
}

TEST_F(VerdictTest, PackageFilesLinkedOutOfThePackageAreNeitherReadNorRun) {
  const std::string secret = root + "/secret";
  write(secret, "[MANAGER]\nLAUNCHER=SECRET-LINE\n#!/bin/sh\necho SECRET-RAN\n");
  chmod(secret.c_str(), 0755);
  ASSERT_EQ(0, symlink(secret.c_str(), iniPath().c_str()));
  for (const char* options : {"", "--json", "--trial --as-root"}) {
    Result r = check({}, options);
    EXPECT_EQ(1, r.status) << options;
    EXPECT_EQ(std::string::npos, r.out.find("SECRET-")) << options << "\n" << r.out;
    EXPECT_NE(std::string::npos, r.out.find(iniPath() + " is a symbolic link leading out of "
                                            "the package directory, to " + secret))
        << options << "\n" << r.out;
  }

  // The installer linked out is not run; a link inside the package is fine.
  unlink(iniPath().c_str());
  writePackage("");
  write(pkgDir + "/package.ini", readFile(iniPath()));
  unlink(iniPath().c_str());
  ASSERT_EQ(0, symlink("package.ini", iniPath().c_str()));
  unlink((pkgDir + "/install").c_str());
  ASSERT_EQ(0, symlink(secret.c_str(), (pkgDir + "/install").c_str()));
  for (const char* options : {"", "--trial --as-root"}) {
    Result r = check({}, options);
    EXPECT_EQ(1, r.status) << options;
    EXPECT_EQ(std::string::npos, r.out.find("SECRET-")) << options << "\n" << r.out;
    EXPECT_NE(std::string::npos, r.out.find("installer: " + pkgDir + "/install is a symbolic "
                                            "link leading out"))
        << options << "\n" << r.out;
  }
}

}  // namespace
}  // namespace e2e
