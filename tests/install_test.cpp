// The launch sequence's steps: self-location, INI file, command line,
// effective settings, installed-agent probe, versions and command lines.
#include "install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"
#include "test_support.h"
#include "trust.h"
#include "utilities.h"
#include "utilitiesLinux.h"

using namespace std::string_literals;

namespace {

using Args = std::vector<std::string>;

// Points the diagnostic log at a scratch file while it lives.
struct LogCapture {
  LogCapture() { logFile = tmpfile(); }
  ~LogCapture() { fclose(logFile); logFile = nullptr; }
  std::string text() {
    rewind(logFile);
    std::string result;
    for (int c; (c = fgetc(logFile)) != EOF;) result += static_cast<char>(c);
    return result;
  }
};
std::string section(const std::string& title) { return "\n" + title + "\n" + std::string(54, '=') + "\n"; }
std::string agentPackage(const char* version) {
  return "<package id='"s + kAgentPackageId + "' version='" + version + "'/>\n";
}

IniSettings readIni(const std::string& text) {
  TempDir t;
  writeFile(t / "setup.ini", text);
  IniSettings ini;
  EXPECT_EQ(1, processINI(t / "setup.ini", &ini));
  return ini;
}

CmdSettings parse(Args args, int expected = 1) {
  args.insert(args.begin(), "setup");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  CmdSettings cmd;
  EXPECT_EQ(expected, parseCmdlineArg(static_cast<int>(args.size()), argv.data(), &cmd));
  return cmd;
}

}  // namespace

// --- Self-location -----------------------------------------------------------

TEST(LauncherInfoTest, SplitsTheFoundPath) {
  TempDir t;
  // Only the running program in its own directory counts: a link to it in
  // another directory and a planted file of the same name are passed over
  // for the running program's own path. (Bare names found through links
  // depend on how this test was started; the end-to-end tests start the
  // launcher for real.)
  writeFile(t / "cwd/planted", "");
  mkdir((t / "pkg").c_str(), 0755);
  ScopedCwd cwd(t / "cwd");
  const std::string self = runningProgramPath();
  ASSERT_EQ(1, isRunningProgram(self));
  ASSERT_EQ(0, symlink(self.c_str(), (t / "pkg/my.setup.bin").c_str()));
  ScopedEnv path("PATH", "/nonexistent");
  const std::string dir = dirName(self), file = baseName(self), name = removeSuffix(file);
  const Args cases[] = {  // argv[0], then the four results
      {t / "pkg/my.setup.bin", self, dir, file, name},
      {"planted", self, dir, file, name},
      {"nosuch", self, dir, file, name},
      {std::string(5000, 'a'), self, dir, file, name},
  };
  for (const Args& c : cases) {
    LauncherInfo info;
    info.launcherName = "stale";
    EXPECT_TRUE(getLauncherInfo(c[0].c_str(), &info));
    EXPECT_EQ(Args(c.begin() + 1, c.end()),
              Args({info.launcherFullPath, info.launcherDir, info.launcherFile, info.launcherName}))
        << c[0].substr(0, 80);
  }
  setPackageDirectory(-1);  // the other tests have no package
}

// --- INI file ----------------------------------------------------------------

TEST(ProcessIniTest, LinesAndSections) {
  const std::string v246(246, 'v'), w38(38, 'w');
  const std::pair<std::string, std::string> cases[] = {
      {"[MANAGER]\nVERSION=1\n", "1"},              {"  [MANAGER]   \nVERSION=1\n", "1"},
      {"[MANAGER]\n[manager]\nVERSION=1\n", ""},    {"[MANAGER]\n[MANAGER] ; c\nVERSION=1\n", ""},
      {"[MANAGER]\n\t[COMMON]\nVERSION=1\n", "1"},  // neither header nor bracket line
      {"[MANAGER]\n  [OTHER]\nVERSION=1\n", "1"},   // a bracket counts in column one only
      {"[MANAGER]\r\nVERSION=1\r\n", ""},           {"[MANAGER]\nVERSION=1\r\n", "1\r"},
      {"[MANAGER]\nVERSION =1\n", ""},              {"[MANAGER]\nVERSION= 1 \n", " 1 "},
      {"[MANAGER]\nVERSION=a=b;c\n", "a=b;c"},      {"[MANAGER]\n;VERSION=1\n", ""},
      {"[MANAGER]\n ;VERSION=1\nVERSION\n=VERSION\n", ""},
      {"[MANAGER]\nVERSION=1\nVERSION=2\n", "2"},   {"[MANAGER]\nVERSION=1\nVERSION=\n", ""},
      {"VERSION=1\n[MANAGER]\n", ""},               {"[COMMON]\nVERSION=1\n[INSTALLER]\nVERSION=2\n", ""},
      {"[MANAGER]\nVERSION=1\n[COMMON]\n[MANAGER]\nLAUNCHER=x\n", "1"},
      {"[MANAGER]\nVERSION=1\0junk\nVERSION2=x\n"s, "1"},  // a NUL byte ends the line's text
      {"[MANAGER]\nVERSION=" + v246 + std::string(46, 'x') + "\n", v246 + std::string(46, 'x')},
      {"[MANAGER]\nVERSION=" + v246 + "VERSION=" + w38 + "\n", v246 + "VERSION=" + w38},
      {"[MANAGER]\nVERSION=" + v246 + "\n", v246},
      // Beyond the longest line read, a line is dropped, never cut.
      {"[MANAGER]\nVERSION=1\nVERSION=" + std::string(kMaxLineBytes, 'v') + "\nLAUNCHER=x\n", "1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, readIni(c.first).iniManagerVersion) << c.first.substr(0, 60);
  }
}

TEST(ProcessIniTest, EveryKeyInItsOwnSectionOnly) {
  IniSettings ini = readIni(
      "SILENT=early\n"
      "[INSTALLER]\nLOCATION=installer/install\nLICENSEACCEPTED=yes\nSILENT=true\nNL=xx\n"
      "[MANAGER]\nLOCATION_KEY=.agent/key\nLOCATION_FILE=<HOME>/ref\nVERSION=1.0.0\n"
      "LAUNCHER=launcher\nLAUNCHER_SILENT=launcherc\nINPUT_FILE=resp.xml\nLOCATION=wrong\n"
      "[COMMON]\nSILENT=no\nISADMIN=false\nAPPDATALOCATION=/var/agent\nNL=" +
      std::string(40, 'n') + "\nLICENSEACCEPTED=no\nVERSION=9\n");
  EXPECT_EQ(Args({"installer/install", "yes", ".agent/key", "<HOME>/ref", "1.0.0", "launcher",
                  "launcherc", "resp.xml", "no", "false", "/var/agent", std::string(40, 'n'), ""}),
            Args({ini.iniInstallerLocation, ini.iniLicenseAccepted, ini.iniManagerLocationKey,
                  ini.iniManagerLocationFile, ini.iniManagerVersion, ini.iniManagerLauncher,
                  ini.iniManagerLauncherSilent, ini.iniManagerInput, ini.iniSilent, ini.iniIsAdmin,
                  ini.iniAppDataLocation, ini.iniNL, ini.iniMode}));
  EXPECT_EQ(MODE_INSTALL, ini.mode);
}

TEST(ProcessIniTest, ModeWords) {
  struct Case { const char* text; int mode; const char* iniMode; };
  const Case cases[] = {  // the last MODE line's text is kept; only a known word sets the mode
      {"[MANAGER]\nMODE= UNINSTALL \n", MODE_UNINSTALL, " UNINSTALL "},
      {"[MANAGER]\nMODE=uninstall\n", MODE_INSTALL, "uninstall"},
      {"[MANAGER]\nMODE=EXTENSION\nMODE=bogus\n", MODE_EXTENSION, "bogus"},
      {"[MANAGER]\nMODE=UNINSTALL\nMODE=INSTALL\n", MODE_INSTALL, "INSTALL"},
      {"[COMMON]\nMODE=UNINSTALL\n", MODE_INSTALL, ""},
  };
  for (const Case& c : cases) {
    IniSettings ini = readIni(c.text);
    EXPECT_EQ(c.mode, ini.mode) << c.text;
    EXPECT_EQ(c.iniMode, ini.iniMode) << c.text;
  }
}

TEST(ProcessIniTest, ArgListsInFileOrder) {
  IniSettings ini = readIni(
      "ARG=none\n[INSTALLER]\nARG=i1\n[MANAGER]\nARG=m1\nARG=\nARG= m 3\n"
      "[COMMON]\nARG=c\n[INSTALLER]\nARG=i2\nARG =x\n");
  EXPECT_EQ(Args({"i1", "i2"}), ini.iniInstallerArgs);
  EXPECT_EQ(Args({"m1", "", " m 3"}), ini.iniManagerArgs);

  std::string text = "[MANAGER]\n";
  for (int i = 0; i < 10000; ++i) text += "ARG=a" + std::to_string(i) + "\n";
  ini = readIni(text);
  ASSERT_EQ(10000u, ini.iniManagerArgs.size());
  EXPECT_EQ("a9999", ini.iniManagerArgs.back());
}

TEST(ProcessIniTest, ArgIsAKeyOfTheInstallerAndManagerSectionsOnly) {
  std::vector<IniLineAction> actions;
  IniListener listener = {[](const IniLine& line, void* context) {
                            static_cast<std::vector<IniLineAction>*>(context)->push_back(line.action);
                          },
                          &actions};
  TempDir t;
  writeFile(t / "setup.ini", "[INSTALLER]\nARG=i\n[MANAGER]\nARG=m\n[COMMON]\nARG=c\n");
  IniSettings ini;
  ASSERT_EQ(1, processINI(t / "setup.ini", &ini, &listener));
  EXPECT_EQ(std::vector<IniLineAction>({INI_LINE_SECTION, INI_LINE_KEY_APPLIED, INI_LINE_SECTION,
                                        INI_LINE_KEY_APPLIED, INI_LINE_SECTION, INI_LINE_KEY_UNKNOWN}),
            actions);
}

TEST(ProcessIniTest, MissingFileIsReadAsNothingAndShowsNothing) {
  IniSettings ini;
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, processINI("/nonexistent/setup.ini", &ini));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

// --- Command line ------------------------------------------------------------

TEST(ParseCmdlineTest, States) {
  CmdSettings cmd = parse({});
  EXPECT_EQ(0, cmd.isDebug + cmd.argIsSilent + cmd.isWait + cmd.argIsUserAdmin + cmd.argLicenseAccepted);

  cmd = parse({"-silent", "-wait", "-isAdmin", "-licenseAccepted", "-silent", "-input", "in.xml",
               "-appDataLocation", "/var/a", "-nl", "de", "-log", "first.log", "-log", "second.log"});
  EXPECT_EQ(5, cmd.argIsSilent + cmd.isWait + cmd.argIsUserAdmin + cmd.argLicenseAccepted + cmd.isDebug);
  EXPECT_EQ(Args({"in.xml", "/var/a", "de", "second.log"}),
            Args({cmd.argInputFile, cmd.argAppDataLocation, cmd.argNL, cmd.argLogFile}));

  EXPECT_EQ("", parse({"-input"}).argInputFile);
  EXPECT_EQ(0, parse({"-log"}).isDebug);  // a trailing value option does nothing
  cmd = parse({"-input", "-silent", "-nl", "-help"});
  EXPECT_EQ(Args({"-silent", "-help"}), Args({cmd.argInputFile, cmd.argNL}));
  EXPECT_EQ(0, cmd.argIsSilent);
  EXPECT_EQ(0, parse({"-Silent", "--silent", "-H", "", "-WAIT"}).argIsSilent);
  EXPECT_EQ(std::string(500, 'l'), parse({"-nl", std::string(500, 'l')}).argNL);

  cmd = parse({"-installerArgs", "A", "B", "-managerArgs", "C", "-silent", "", "-installerArgs",
               "D", "-help", "-log", "x"});
  EXPECT_EQ(Args({"A", "B", "D", "-help", "-log", "x"}), cmd.argInstallerArgs);
  EXPECT_EQ(Args({"C", "-silent", ""}), cmd.argManagerArgs);
  EXPECT_EQ(0, cmd.argIsSilent + cmd.isDebug);

  Args many = {"-managerArgs"};
  for (int i = 0; i < 10000; ++i) many.push_back(std::to_string(i));
  cmd = parse(many);
  ASSERT_EQ(10000u, cmd.argManagerArgs.size());
  EXPECT_EQ("9999", cmd.argManagerArgs.back());
}

TEST(ParseCmdlineTest, HelpFormsEndTheRun) {
  const Args forms[] = {{"-help"}, {"-h"}, {"-?"}, {"/help"}, {"/?"}, {"-silent", "-help"},
                        {"-input", "x", "/?", "-installerArgs"}};
  for (const Args& args : forms) parse(args, 0);
  EXPECT_EQ("x", parse({"-input", "x", "/?", "-installerArgs"}, 0).argInputFile);
}

TEST(ParseCmdlineTest, ProgramNameIsNoOptionAndHelpIsHeard) {
  std::vector<std::pair<int, CmdArgAction>> heard;
  CmdlineListener listener = {[](int index, CmdArgAction action, void* context) {
                                static_cast<std::vector<std::pair<int, CmdArgAction>>*>(context)
                                    ->emplace_back(index, action);
                              },
                              &heard};
  // Started by a name that looks like an option (exec -a).
  std::string words[] = {"-h", "-silent", "-h", "-wait"};
  char* argv[] = {&words[0][0], &words[1][0], &words[2][0], &words[3][0], nullptr};
  CmdSettings cmd;
  EXPECT_EQ(0, parseCmdlineArg(4, argv, &cmd, &listener));
  EXPECT_EQ((std::vector<std::pair<int, CmdArgAction>>{{1, CMD_ARG_OPTION}, {2, CMD_ARG_HELP}}),
            heard);
  EXPECT_EQ(1, cmd.argIsSilent);
  EXPECT_EQ(0, cmd.isWait);
  argv[0] = &words[1][0];
  CmdSettings named;
  EXPECT_EQ(1, parseCmdlineArg(1, argv, &named));
  EXPECT_EQ(0, named.argIsSilent);
}

// --- Effective settings ------------------------------------------------------

namespace {

struct MergeCase {
  const char* iniSilent;
  const char* iniIsAdmin;
  const char* iniLicense;
  int argSilent, argAdmin, argLicense, argWait;
  int isSilent, isWait, isDialogAllowed, isUserAdmin, isLicenseAccepted;  // isUserAdmin -1: the uid
};

// The boolean words ignore case but are compared untrimmed.
const MergeCase kMergeCases[] = {
    {"", "", "", 0, 0, 0, 0, 0, 0, 1, -1, 0},       {"YES", "", "", 0, 0, 0, 0, 1, 1, 0, -1, 0},
    {"TRUE", "", "", 0, 0, 0, 0, 1, 1, 0, -1, 0},   {" true", "", "", 0, 0, 0, 0, 0, 0, 1, -1, 0},
    {"1", "", "", 0, 0, 0, 0, 0, 0, 1, -1, 0},      {"false", "", "", 1, 0, 0, 0, 1, 1, 0, -1, 0},
    {"", "", "", 0, 0, 0, 1, 0, 1, 1, -1, 0},       {"", "true", "", 0, 0, 0, 0, 0, 0, 1, 1, 0},
    {"", "Yes", "", 0, 0, 0, 0, 0, 0, 1, 1, 0},     {"", "false", "", 0, 0, 0, 0, 0, 0, 1, 0, 0},
    {"", "No", "", 0, 0, 0, 0, 0, 0, 1, 0, 0},      {"", "no ", "", 0, 0, 0, 0, 0, 0, 1, -1, 0},
    {"", "maybe", "", 0, 0, 0, 0, 0, 0, 1, -1, 0},  {"", "false", "", 0, 1, 0, 0, 0, 0, 1, 1, 0},
    {"", "", "yEs", 0, 0, 0, 0, 0, 0, 1, -1, 1},    {"", "", "no", 0, 0, 1, 0, 0, 0, 1, -1, 1},
    {"", "", " true", 0, 0, 0, 0, 0, 0, 1, -1, 0},
};

// Index of the first case whose merge differs from the table, or -1.
int firstMergeMismatch() {
  LauncherInfo info;
  for (int i = 0; i < static_cast<int>(sizeof kMergeCases / sizeof kMergeCases[0]); ++i) {
    const MergeCase& c = kMergeCases[i];
    IniSettings ini;
    ini.iniSilent = c.iniSilent, ini.iniIsAdmin = c.iniIsAdmin, ini.iniLicenseAccepted = c.iniLicense;
    CmdSettings cmd;
    cmd.argIsSilent = c.argSilent, cmd.argIsUserAdmin = c.argAdmin;
    cmd.argLicenseAccepted = c.argLicense, cmd.isWait = c.argWait;
    Settings s;
    processCmdLineAndIni(info, ini, cmd, &s);
    int admin = c.isUserAdmin < 0 ? (getuid() == 0) : c.isUserAdmin;
    if (s.isSilent != c.isSilent || s.isWait != c.isWait ||
        s.isDialogAllowed != c.isDialogAllowed || s.isUserAdmin != admin ||
        s.isLicenseAccepted != c.isLicenseAccepted) {
      return i;
    }
  }
  return -1;
}

}  // namespace

TEST(MergeTest, FlagsAsThisUser) { EXPECT_EQ(-1, firstMergeMismatch()); }

TEST(MergeDeathTest, FlagsAsAnOrdinaryUser) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to become another user";
  EXPECT_EXIT(
      {
        if (setuid(65534) != 0) _exit(100);
        _exit(firstMergeMismatch() + 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(MergeTest, ValuesAndInputFile) {
  LauncherInfo info;
  info.launcherDir = "/opt/pkg/";
  struct Case { const char* iniValue; const char* argValue; const char* nl; const char* input; };
  const Case cases[] = {
      {"", "", "", ""},                       {"ini", "", "ini", "/opt/pkg//ini"},
      {"ini", "arg", "arg", "/opt/pkg//arg"}, {"/abs/resp.xml", "", "/abs/resp.xml", "/abs/resp.xml"},
      {"../a%s%d.xml", "", "../a%s%d.xml", "/opt/pkg//../a%s%d.xml"},
  };
  for (const Case& c : cases) {
    IniSettings ini;
    ini.iniNL = ini.iniAppDataLocation = ini.iniManagerInput = c.iniValue;
    CmdSettings cmd;
    cmd.argNL = cmd.argAppDataLocation = cmd.argInputFile = c.argValue;
    Settings s;
    processCmdLineAndIni(info, ini, cmd, &s);
    EXPECT_EQ(Args({c.nl, c.nl, c.input}), Args({s.nl, s.appDataLocation, s.inputFile}))
        << c.iniValue << "/" << c.argValue;
  }
}

// --- Installed-agent probe ---------------------------------------------------

TEST(ProbeTest, ParseSystemValue) {
  ScopedEnv home("HOME", "/usr");  // root's own, so it counts for root too
  LauncherInfo info;
  info.launcherDir = "/opt/pkg/";
  struct Case { const char* src; int admin; const char* dst; };
  const Case cases[] = {
      {"/plain/ref", 0, "/plain/ref"},     {"<HOME>/a/<APPDATA>/b", 0, "/usr/a/<APPDATA>/b"},
      {"<APPDATA>/<HOME>", 1, "<APPDATA>//usr"},  // the placeholders' order, not the text's
      {"<HOME>/<HOME>", 0, "/usr/<HOME>"}, {"<My Documents>/r", 0, "/usr/r"},
      {"<PROFILE>/r", 0, "/usr/r"},      {"<CURRDIR>ref.txt", 0, "/opt/pkg/ref.txt"},
      {"<APPDATA>/x", 1, "/etc/x"},         {"<APPDATA>/x", 0, "/usr/x"},
      {"<home>/x", 0, "<home>/x"},
  };
  for (const Case& c : cases) {
    std::string dst = "stale";
    EXPECT_EQ(0, parseSystemValue(&dst, c.src, info, c.admin));
    EXPECT_EQ(c.dst, dst) << c.src;
  }
}

TEST(ProbeDeathTest, NoHomeDirectoryFormsNoPath) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to take an unknown user id";
  EXPECT_EXIT(
      {
        unsetenv("HOME");
        if (setuid(54321) != 0) _exit(10);
        LauncherInfo info;
        std::string dst = "stale";
        if (parseSystemValue(&dst, "<HOME>/ref", info, 0) != -1 || !dst.empty()) _exit(11);
        if (parseSystemValue(&dst, "<APPDATA>/ref", info, 1) != 0 || dst != "/etc/ref") _exit(12);
        _exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ProbeTest, AgentFiles) {
  TempDir t;
  using Reader = int (*)(const std::string&, std::string*);
  const Reader config = getAppDataDir, packages = getQRVersion;
  const std::string id = "id='"s + kAgentPackageId + "'";
  struct Case { Reader reader; std::string text, expected; };
  const Case cases[] = {
      {config, "#zel.appDataLocation=/a\nzel.appDataLocation=/b\n", "/b"},
      {config, "zel.appDataLocation=/a\nzel.appDataLocation\nzel.appDataLocation=/c\n", "/a"},
      {config, "zel.appDataLocation = /a \n", " /a "},
      {config, "zel.appDataLocationX=/x=y\n", "/x=y"},
      {config, " zel.appDataLocation=/a\nother=/b\n", ""},
      {packages, agentPackage("1.0.0"), "1.0.0"},
      {packages, "<x version='2.0' " + id + " <package>\n", "2.0"},
      {packages, "<package " + id + "\n version='1.0.0'/>\n", ""},  // element over two lines
      {packages, "<package " + id + " version='1.0\n" + agentPackage("2.0"), "2.0"},
      {packages, "<package id='"s + kAgentPackageId + ".x' version='3.0'/>\n", ""},
      {packages, "<package id='x' version='3'/>\n" + agentPackage("4") + agentPackage("5"), "4"},
      {packages, "<package id=\""s + kAgentPackageId + "\" version='3.0'/>\n", ""},
  };
  for (const Case& c : cases) {
    writeFile(t / "file", c.text);
    std::string dst = "stale";
    EXPECT_EQ(0, c.reader(t / "file", &dst));
    EXPECT_EQ(c.expected, dst) << c.text;
  }
  for (Reader reader : {config, packages}) {
    std::string dst = "kept";
    EXPECT_EQ(0, reader(t / "missing", &dst));
    EXPECT_EQ("kept", dst);
  }
}

TEST(ProbeTest, InstalledVersionAndItsLog) {
  TempDir t;
  writeFile(t / "ref.txt", "location=" + t.path + "/agent/\n");
  writeFile(t / "agent/eclipse/configuration/config.ini", "zel.appDataLocation=" + t.path + "//data//\n");
  writeFile(t / "data/installed.xml", agentPackage("7.1.0"));
  LauncherInfo info;
  info.launcherDir = t.path + "/";
  IniSettings ini;
  ini.iniManagerLocationFile = "<CURRDIR>ref.txt";
  AgentInfo agent;
  {
    LogCapture log;
    getInstalledAgentInfo(info, ini, Settings(), &agent);
    EXPECT_EQ(section("Get Installed Agent Info") +
                  "iniManagerLocationKey: ()\niniManagerLocationFile: (<CURRDIR>ref.txt)\n"
                  "isAdmin(): (" + std::to_string(getuid() == 0) + ")\nisUserAdmin: (0)\n"
                  "Get current agent location from Reference File: \n"
                  "refFile: (" + t.path + "/ref.txt)\n"
                  "Get Installed QR Version: \nqrLocatoin: (" + t.path + "/agent/)\n"
                  "configFile: (" + t.path + "/agent/eclipse/configuration/config.ini)\n"
                  "appDataDir: (" + t.path + "/data)\ninstalledXMLFile: (" + t.path +
                  "/data/installed.xml)\ncurrVersion: (7.1.0)\n",
              log.text());
  }
  EXPECT_EQ("7.1.0", agent.refVersion);
  EXPECT_EQ("7.1.0", getInstalledQRVersion(t / "agent"));
  EXPECT_EQ("", getInstalledQRVersion(""));
  {
    LogCapture log;  // no configuration file: the log stops there
    EXPECT_EQ("", getInstalledQRVersion("/"));
    EXPECT_EQ("Get Installed QR Version: \nqrLocatoin: (/)\nconfigFile: (/eclipse/configuration/config.ini)\n",
              log.text());
  }
  writeFile(t / "agent/eclipse/configuration/config.ini", "zel.appDataLocation=/\n");
  EXPECT_EQ("", getInstalledQRVersion(t / "agent"));  // no data directory left
}

TEST(ProbeTest, LocationSources) {
  TempDir t;
  ScopedEnv home("HOME", t.path.c_str());
  writeFile(t / "agent/eclipse/configuration/config.ini", "zel.appDataLocation=" + t.path + "/data\n");
  writeFile(t / "data/installed.xml", agentPackage("1.0.0"));
  writeFile(t / "user.key", "location=" + t.path + "/agent\n");
  writeFile(t / "ref.txt", "version=9\nlocation=" + t.path + "/agent\n");
  writeFile(t / "noloc", "version=1\n");
  LauncherInfo info;
  info.launcherDir = t.path + "/";
  struct Case { std::string key, file; int admin; std::string location, version; };
  // A source that cannot be read keeps the location an earlier probe found
  // ("old"); one without a location empties it.
  const Case cases[] = {
      {"user.key", "", 0, t / "agent", "1.0.0"},       {"user.key", "", 1, t / "agent", "1.0.0"},  // admin: beside the launcher
      {t / "user.key", "", 1, t / "agent", "1.0.0"},   {"missing.key", "<CURRDIR>ref.txt", 0, "old", ""},
      {"", "<CURRDIR>ref.txt", 0, t / "agent", "1.0.0"}, {"", "<HOME>/user.key", 1, t / "agent", "1.0.0"},
      {"", "", 0, "old", ""},  {"", t / "missing", 0, "old", ""},  {"", t / "noloc", 0, "", ""},
      {"", "ref.txt", 0, t / "agent", "1.0.0"},  // beside the launcher, never in the working directory
  };
  for (const Case& c : cases) {
    IniSettings ini;
    ini.iniManagerLocationKey = c.key, ini.iniManagerLocationFile = c.file;
    Settings settings;
    settings.isUserAdmin = c.admin;
    AgentInfo agent;
    agent.refLocation = "old";
    getInstalledAgentInfo(info, ini, settings, &agent);
    EXPECT_EQ(c.location, agent.refLocation) << c.key << c.file;
    EXPECT_EQ(c.version, agent.refVersion) << c.key << c.file;
  }
}

// --- Versions ------------------------------------------------------------------

TEST(CompareQRVersionTest, Table) {
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  struct Case { const char* installed; const char* required; int sign; };
  const Case cases[] = {
      {"1.0.0", "1.0.0", 0},                  {"1.0.1", "1.0.0", 1},
      {"1.0.0", "1.1", -1},                   {"1.0.0.beta", "1.0.0", -1},
      {"1.0.0", "1.0.0.beta", 1},             {"1.0.0.beta", "1.0.0.alpha", -1},
      {"1.0.1.beta", "1.0.0", 1},             {"1.0.0.beta", "1.0.0.beta", 0},
      {"1.0.0", "1.0.0.I20070601", -1},       {"1.0.0.Beta", "1.0.0", 1},
      {"1.0.0.beta.1", "1.0.0", 1},           {"0.0.0", "", 0},
      {"0.0.0.beta", "", -1},                 {"1.99999999999.0", "1.2147483646", 1},
      {"2147483647.0", "2147483648.0", -1},   {"2147483648.0.0.beta", "2147483648.0.0", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.sign, sign(compareQRVersion(c.installed, c.required)))
        << c.installed << " vs " << c.required;
    AgentInfo agent;
    agent.refVersion = c.installed;
    IniSettings ini;
    ini.iniManagerVersion = c.required;
    EXPECT_EQ(c.sign >= 0, isAgentSufficient(agent, ini)) << c.installed << " vs " << c.required;
  }
  EXPECT_FALSE(isAgentSufficient(AgentInfo(), IniSettings()));
}

// --- Command lines -------------------------------------------------------------

namespace {

struct Composition {
  LauncherInfo info;
  IniSettings ini;
  CmdSettings cmd;
  Settings settings;
  AgentInfo agent;
  Composition() {
    info.launcherDir = "/media/disk1/";
    ini.iniInstallerLocation = "installer/install";
  }
  // Silent, ISADMIN true, a data location, the agreement accepted and one
  // INI argument.
  void everything() {
    settings.isSilent = 1, settings.isLicenseAccepted = 1, settings.appDataLocation = "/var/agent";
    ini.iniIsAdmin = "true", ini.iniInstallerArgs = {"arg1"};
  }
  Args native() {
    InstallerCommand installer;
    EXPECT_EQ(1, createAgtInstallerArgList_linux(info, ini, cmd, settings, &installer));
    EXPECT_EQ(installer.InstallerProgram, installer.installerArglist.at(0));
    return installer.installerArglist;
  }
  Args package(std::string* msiFile = nullptr) {
    InstallerCommand installer;
    EXPECT_EQ(1, createAgtInstallerArgList_MSI(info, ini, cmd, settings, &installer));
    EXPECT_EQ(installer.InstallerProgram, installer.installerArglist.at(0));
    if (msiFile) *msiFile = installer.msiFile;
    return installer.installerArglist;
  }
  Args agentLine() {
    AgentCommand command;
    EXPECT_EQ(1, createAgentArgList(ini, cmd, settings, agent, &command));
    EXPECT_EQ(command.AgentProgram, command.agentArglist.at(0));
    return command.agentArglist;
  }
};

}  // namespace

TEST(InstallerCommandTest, IsMSIFile) {
  const std::pair<const char*, bool> cases[] = {
      {"x.msi", true}, {".msi", false}, {"SETUP.MSI", false}, {"a.msi.txt", false}, {"", false}};
  for (const auto& c : cases) EXPECT_EQ(c.second, isMSIFile(c.first)) << c.first;
}

TEST(InstallerCommandTest, NativeForm) {
  Composition c;
  EXPECT_EQ(Args({"/media/disk1//installer/install", "-V", "STANDALONE=false"}), c.native());
  c.everything();
  EXPECT_EQ(Args({"/media/disk1//installer/install", "-silent", "-W", "adminCheck.active=false",
                  "-V", "APPDATALOCATION=\"/var/agent\"", "-V", "licenseAccepted=true", "arg1",
                  "-V", "STANDALONE=false"}),
            c.native());

  Composition d;
  d.ini.iniInstallerLocation = "/opt/x/install", d.ini.iniIsAdmin = "no", d.ini.iniInstallerArgs = {"ini"};
  d.settings.isUserAdmin = 1;  // a mere superuser
  d.settings.isLicenseAccepted = 2;
  d.cmd.argInstallerArgs = {"a b", "x=1", "t\tu", "", "\"q\""};
  EXPECT_EQ(Args({"/media/disk1///opt/x/install", "\"a b\"", "x=1", "t\tu", "", "\"q\"", "-V",
                  "STANDALONE=false"}),
            d.native());
  d.cmd.argIsUserAdmin = 1;
  d.cmd.argInstallerArgs.assign(5000, "e");
  Args slots = d.native();
  EXPECT_EQ(5005u, slots.size());
  EXPECT_EQ("adminCheck.active=false", slots[2]);
}

TEST(InstallerCommandTest, PackageForm) {
  TempDir t;
  writeFile(t / "bin/msiexec.exe", "");
  ScopedCwd cwd(t.path);
  ScopedEnv path("PATH", (t.path + "/bin").c_str());
  Composition c;
  c.ini.iniInstallerLocation = "agent.msi";
  std::string msiFile;
  EXPECT_EQ(Args({t.path + "/bin/msiexec.exe", "/i", "/media/disk1//agent.msi", "STANDALONE=false"}),
            c.package(&msiFile));
  EXPECT_EQ("/media/disk1//agent.msi", msiFile);
  c.everything();
  c.cmd.argIsUserAdmin = 1;
  EXPECT_EQ(Args({t.path + "/bin/msiexec.exe", "/i", "/media/disk1//agent.msi", "/q", "arg1",
                  "STANDALONE=false", "APPDATALOCATION=\"/var/agent\""}),
            c.package());
  c.cmd.argInstallerArgs = {"c d"};
  EXPECT_EQ("\"c d\"", c.package().at(4));
  ScopedEnv none("PATH", "/nonexistent");
  EXPECT_EQ("", c.package().at(0));
}

TEST(AgentCommandTest, Example) {
  Composition c;
  c.agent.refLocation = "/opt/agent";
  c.ini.iniManagerLauncher = "launcher", c.ini.iniManagerLauncherSilent = "launcherc";
  c.ini.iniIsAdmin = "yes", c.ini.iniManagerArgs = {"-vmargs", "a b"};
  c.settings.isSilent = 1, c.settings.inputFile = "/tmp/response.xml";
  c.settings.appDataLocation = "/var/agent", c.settings.nl = "de";
  EXPECT_EQ(Args({"/opt/agent/launcherc", "-silent", "-nosplash", "-isAdmin", "-input",
                  "/tmp/response.xml", "-dataLocation", "/var/agent", "-nl", "de", "-vmargs",
                  "\"a b\""}),
            c.agentLine());
}

TEST(AgentCommandTest, ProgramAndOptions) {
  Composition c;
  c.agent.refLocation = "/opt/agent/";
  c.ini.iniManagerLauncher = "launcher", c.ini.iniManagerLauncherSilent = "launcherc";
  c.settings.isUserAdmin = 1;  // a mere superuser: no -isAdmin
  EXPECT_EQ(Args({"/opt/agent//launcher"}), c.agentLine());
  c.settings.isSilent = 1;
  c.ini.iniManagerLauncherSilent = "", c.ini.iniManagerArgs = {"ini"};
  c.cmd.argManagerArgs = {"x=1", "t\tu", "p q"};
  EXPECT_EQ(Args({"/opt/agent//launcher", "-silent", "-nosplash", "x=1", "t\tu", "\"p q\""}),
            c.agentLine());

  Composition java;
  java.agent.refLocation = "/opt/my agent";
  java.ini.iniManagerLauncher = "jre/bin/java";
  EXPECT_EQ(Args({"/opt/my agent/jre/bin/java", "-jar", "/opt/my agent/eclipse/startup.jar"}),
            java.agentLine());
  java.agent.refLocation = "/opt/agent", java.settings.isSilent = 1, java.cmd.argIsUserAdmin = 1;
  EXPECT_EQ(Args({"/opt/agent/jre/bin/java", "-jar", "/opt/agent/eclipse/startup.jar", "-silent",
                  "-nosplash", "-isAdmin"}),
            java.agentLine());
}

TEST(AgentCommandTest, IsJavaCommand) {
  const std::pair<const char*, bool> cases[] = {
      {"java", true},   {"/jre/bin/javaw", true}, {"java.exe", true}, {"javaw.exe", true},
      {"myjava", true}, {"Java", false},          {"java ", false},   {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, isJavaCommand(c.first)) << c.first;
}

TEST(CommandLineLogTest, Sections) {
  Composition c;
  c.settings.appDataLocation = "/var/a b", c.agent.refLocation = "/opt/agent/";
  c.ini.iniManagerLauncher = "launcher";
  LogCapture log;
  c.native();
  c.agentLine();
  EXPECT_EQ(section("Command to launch agent install") +
                "installerArglist[0]: (/media/disk1//installer/install)\n"
                "installerArglist[1]: (-V)\ninstallerArglist[2]: (APPDATALOCATION=\"/var/a b\")\n"
                "installerArglist[3]: (-V)\ninstallerArglist[4]: (STANDALONE=false)\n" +
                section("Command to launch agent") +
                "AgentProgram: (/opt/agent//launcher)\nagentArglist[0]: (/opt/agent//launcher)\n"
                "agentArglist[1]: (-dataLocation)\nagentArglist[2]: (/var/a b)\n",
            log.text());
}
