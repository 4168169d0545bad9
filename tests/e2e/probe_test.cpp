// Finding the installed agent, seen from outside: which location file the
// launcher reads, what it makes of the agent's own files, and whether the
// version it finds is enough.
#include <pwd.h>
#include <unistd.h>

#include "harness.h"

namespace e2e {
namespace {

class ProbeTest : public E2eTest {
 protected:
  std::string expand(std::string text) const {
    std::string id = root.substr(root.rfind('/') + 1);
    const std::pair<const char*, std::string> names[] = {
        {"{pkg}", pkgDir}, {"{agent}", agentDir}, {"{root}", root},
        {"{home}", home},  {"{work}", workDir},   {"{id}", id},
        {"{admin}", getuid() == 0 ? "1" : "0"}};
    for (const auto& n : names) {
      for (std::string::size_type at; (at = text.find(n.first)) != std::string::npos;) {
        text.replace(at, std::string(n.first).size(), n.second);
      }
    }
    return text;
  }

  // The probe's own lines: from its section title up to the next section.
  std::string probeSection() const {
    std::string log = readFile(logPath);
    std::string::size_type from = log.find("\nGet Installed Agent Info\n");
    std::string::size_type to = log.find("\nInstalled Agent Info\n");
    if (from == std::string::npos || to == std::string::npos) return log;
    return log.substr(from, to - from);
  }
};

// ---------------------------------------------------------------------------
// Installed against required version, with no installer to fall back on

struct VersionCase {
  const char* installed;
  const char* required;
  bool sufficient;
};
void PrintTo(const VersionCase& c, std::ostream* os) {
  *os << "[" << c.installed << "] against [" << c.required << "]";
}

class VersionRowTest : public ProbeTest,
                       public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionRowTest, StartsTheAgentOnlyWhenSufficient) {
  const VersionCase& c = GetParam();
  Ini ini;
  ini.version = c.required;
  writeIni(ini);
  installAgent(agent(c.installed, {"4"}));
  Result r = run();
  if (c.sufficient) {
    EXPECT_EQ(4, r.status) << r.err;
    EXPECT_EQ(1u, agentRuns().size());
  } else {
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(errorMessage(msgAgentNotFound(c.required)), r.err);
    EXPECT_TRUE(agentRuns().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VersionRowTest,
    ::testing::Values(VersionCase{"1.0.0", "1.0.0.beta", true},
                      VersionCase{"1.0.0.beta", "1.0.0.alpha", false},
                      VersionCase{"1.0.0.alpha", "1.0.0.beta", true},
                      VersionCase{"1.0.0.beta", "1.0.0.beta2", false},
                      VersionCase{"1.0.0.beta", "1.0.0.beta", true},
                      VersionCase{"1.0.0.Beta", "1.0.0", true},
                      VersionCase{"1.2", "1.2.0", true},
                      VersionCase{"01.002.3", "1.2.3", true},
                      VersionCase{" 7.1.0", "7.1.0", true},
                      VersionCase{"1.0.0", "1.0.0.I20070601", false},
                      VersionCase{"1.0.0-beta", "1.0.0", true},
                      VersionCase{"1.0", "1.0.0.0", false},
                      VersionCase{"7.1.0", "", true},
                      VersionCase{"0.0.0", "", true},
                      VersionCase{"0.0.0.beta", "", false},
                      // Beyond 32 bits: still ordered, never undefined.
                      VersionCase{"1.99999999999", "1.2147483647", true},
                      VersionCase{"1.0", "1.99999999999", false}));

// ---------------------------------------------------------------------------
// Location key: a machine path for an admin, a file under $HOME otherwise

enum Where { kMachine, kUser, kByUserId };

struct KeyCase {
  const char* name;
  const char* isAdmin;  // ISADMIN, "" for no line
  std::vector<std::string> args;
  Where reads;
};
void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class LocationKeyTest : public ProbeTest,
                        public ::testing::WithParamInterface<KeyCase> {};

// Both readings of an absolute key name lead to an agent; which one starts
// tells which file was read.
TEST_P(LocationKeyTest, AdminReadsTheKeyNameAsAPath) {
  const KeyCase& c = GetParam();
  Ini ini;
  ini.isAdmin = c.isAdmin;
  ini.locationKey = root + "/etc/agent.key";
  writeIni(ini);
  AgentInstall machine = agent("1.0.0", {"11"});
  machine.dir = root + "/machine-agent";
  machine.locationFile = ini.locationKey;
  installAgent(machine);
  AgentInstall user = agent("1.0.0", {"12"});
  user.dir = root + "/user-agent";
  user.locationFile = home + "/" + ini.locationKey;
  installAgent(user);
  bool admin = c.reads == kMachine || (c.reads == kByUserId && getuid() == 0);
  Result r = run(c.args);
  EXPECT_EQ(admin ? 11 : 12, r.status) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Words, LocationKeyTest,
    ::testing::Values(KeyCase{"NoIsAdmin", "", {}, kByUserId},
                      KeyCase{"OtherWord", "maybe", {}, kByUserId},
                      KeyCase{"TrueWithBlank", " true", {}, kByUserId},
                      KeyCase{"Yes", "Yes", {}, kMachine},
                      KeyCase{"False", "false", {}, kUser},
                      KeyCase{"NoAnyCase", "nO", {}, kUser},
                      KeyCase{"OptionBeatsFalse", "FALSE", {"-isAdmin"}, kMachine}),
    [](const ::testing::TestParamInfo<KeyCase>& info) {
      return std::string(info.param.name);
    });

// ---------------------------------------------------------------------------
// Reference file with placeholders

struct RefCase {
  const char* name;
  const char* locationFile;  // LOCATION_FILE
  const char* isAdmin;
  const char* path;          // where it must be looked for
};
void PrintTo(const RefCase& c, std::ostream* os) { *os << c.name; }

class ReferenceFileTest : public ProbeTest,
                          public ::testing::WithParamInterface<RefCase> {};

TEST_P(ReferenceFileTest, FindsTheAgentThroughTheExpandedPath) {
  const RefCase& c = GetParam();
  std::string path = expand(c.path);
  // The machine data directory is the real /etc; leave nothing behind.
  struct Cleanup {
    std::string path;
    ~Cleanup() { if (path.compare(0, 5, "/etc/") == 0) unlink(path.c_str()); }
  } cleanup{path};
  Ini ini;
  ini.locationKey = "";
  ini.locationFile = expand(c.locationFile);
  ini.isAdmin = c.isAdmin;
  writeIni(ini);
  AgentInstall a = agent("1.0.0");
  a.locationFile = path[0] == '/' ? path : workDir + "/" + path;
  installAgent(a);
  Result r = run({"-log", logPath});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(1u, agentRuns().size());
  EXPECT_NE(std::string::npos,
            readFile(logPath).find("Get current agent location from Reference "
                                   "File: \nrefFile: (" + path + ")\n"))
      << readFile(logPath);
}

INSTANTIATE_TEST_SUITE_P(
    Placeholders, ReferenceFileTest,
    ::testing::Values(
        RefCase{"Home", "<HOME>/refs/agent.ref", "false", "{home}/refs/agent.ref"},
        RefCase{"MyDocuments", "<My Documents>/a.ref", "false", "{home}/a.ref"},
        RefCase{"Profile", "<PROFILE>/a.ref", "false", "{home}/a.ref"},
        RefCase{"CurrDir", "<CURRDIR>agent.ref", "false", "{pkg}/agent.ref"},
        RefCase{"AppDataForAUser", "<APPDATA>/agent.ref", "false", "{home}/agent.ref"},
        RefCase{"AppDataForAnAdmin", "<APPDATA>/e2e-{id}.ref", "true",
                "/etc/e2e-{id}.ref"},
        RefCase{"OnlyTheFirstIsExpanded", "<HOME>/a/<APPDATA>/b", "false",
                "{home}/a/<APPDATA>/b"},
        // The list order decides, not the position in the path.
        RefCase{"HomeBeforeCurrDir", "<CURRDIR>x<HOME>.ref", "false",
                "{pkg}//<CURRDIR>x{home}.ref"},
        RefCase{"NoPlaceholder", "{root}/plain.ref", "false", "{root}/plain.ref"}),
    [](const ::testing::TestParamInfo<RefCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(ProbeTest, KeyAloneIsReadWhenBothAreConfigured) {
  Ini ini;
  ini.locationFile = root + "/agent.ref";
  writeIni(ini);
  AgentInstall a = agent("1.0.0");
  a.locationFile = ini.locationFile;  // the key file stays missing
  installAgent(a);
  Result r = run({"-log", logPath});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(errorMessage(msgAgentNotFound("1.0.0")), r.err);
  std::string log = readFile(logPath);
  EXPECT_NE(std::string::npos, log.find("Get current agent location from Registry: \n"));
  EXPECT_EQ(std::string::npos, log.find("Reference File"));
}

// ---------------------------------------------------------------------------
// Where the probe stops, as its log lines show

struct StopCase {
  const char* name;
  const char* key;     // key file content; null: no file
  const char* config;  // config.ini content; null: no file
  const char* xml;     // installed.xml content under {agent}/data; null: none
  const char* lines;   // the probe's lines after its fixed head
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class ProbeStopTest : public ProbeTest,
                      public ::testing::WithParamInterface<StopCase> {};

TEST_P(ProbeStopTest, LogsUpToWhereItStopped) {
  const StopCase& c = GetParam();
  writeIni(Ini());
  if (c.key) write(home + "/.quorvin/agent.key", expand(c.key));
  if (c.config) write(agentDir + "/eclipse/configuration/config.ini", expand(c.config));
  if (c.xml) write(agentDir + "/data/installed.xml", c.xml);
  Result r = run({"-log", logPath});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(expand("\nGet Installed Agent Info\n" + std::string(54, '=') +
                   "\n"
                   "iniManagerLocationKey: (.quorvin/agent.key)\n"
                   "iniManagerLocationFile: ()\n"
                   "isAdmin(): ({admin})\n"
                   "isUserAdmin: (0)\n"
                   "Get current agent location from Registry: \n"
                   "iniManagerLocationKey: (.quorvin/agent.key)\n"
                   "Get Installed QR Version: \n" +
                   c.lines),
            probeSection());
}

#define CONFIG_LINES(location)                        \
  "qrLocatoin: (" location ")\n"                      \
  "configFile: ({agent}/eclipse/configuration/config.ini)\n"
#define XML_LINES                                     \
  "appDataDir: ({agent}/data)\n"                      \
  "installedXMLFile: ({agent}/data/installed.xml)\n"
#define PACKAGE(attributes) \
  "<package id='com.telvane.quorvin.agent' " attributes "/>\n"

INSTANTIATE_TEST_SUITE_P(
    Stops, ProbeStopTest,
    ::testing::Values(
        StopCase{"NoKeyFile", nullptr, nullptr, nullptr, "qrLocatoin: ()\n"},
        StopCase{"KeyWithoutLocation", "version=1.0.0\nlocation =x\n", nullptr,
                 nullptr, "qrLocatoin: ()\n"},
        StopCase{"NoConfigFile", "location={agent}\n", nullptr, nullptr,
                 CONFIG_LINES("{agent}")},
        StopCase{"OneTrailingSlashDropped", "location={agent}/\n", nullptr,
                 nullptr, CONFIG_LINES("{agent}/")},
        StopCase{"OnlyACommentedDataLine", "location={agent}\n",
                 "#zel.appDataLocation={agent}/data\n", nullptr,
                 CONFIG_LINES("{agent}")},
        StopCase{"DataLineWithoutEqualsEndsTheSearch", "location={agent}\n",
                 "zel.appDataLocation\nzel.appDataLocation={agent}/data\n",
                 nullptr, CONFIG_LINES("{agent}")},
        StopCase{"DataDirectoryIsRoot", "location={agent}\n",
                 "zel.appDataLocation=/\n", nullptr,
                 CONFIG_LINES("{agent}") "appDataDir: ()\n"},
        StopCase{"NoInstalledXml", "location={agent}\n",
                 "zel.appDataLocation={agent}//data/\n", nullptr,
                 CONFIG_LINES("{agent}") XML_LINES "currVersion: ()\n"},
        StopCase{"BlankAfterEqualsStaysInThePath", "location={agent}\n",
                 "zel.appDataLocation= {agent}/data\n", PACKAGE("version='1.0.0'"),
                 CONFIG_LINES("{agent}")
                 "appDataDir: ( {agent}/data)\n"
                 "installedXMLFile: ( {agent}/data/installed.xml)\n"
                 "currVersion: ()\n"},
        StopCase{"PackageOverTwoLines", "location={agent}\n",
                 "zel.appDataLocation={agent}/data\n",
                 "<package id='com.telvane.quorvin.agent'\n version='1.0.0'/>\n",
                 CONFIG_LINES("{agent}") XML_LINES "currVersion: ()\n"},
        StopCase{"VersionWithoutClosingQuote", "location={agent}\n",
                 "zel.appDataLocation={agent}/data\n", PACKAGE("version='1.0.0"),
                 CONFIG_LINES("{agent}") XML_LINES "currVersion: ()\n"},
        // Found, but older than required: the probe's last line has it.
        StopCase{"LastDataLineWins", "location={agent}\n",
                 "zel.appDataLocation=/nowhere\nzel.appDataLocation={agent}/data\n",
                 PACKAGE("version='0.9'"),
                 CONFIG_LINES("{agent}") XML_LINES "currVersion: (0.9)\n"}),
    [](const ::testing::TestParamInfo<StopCase>& info) {
      return std::string(info.param.name);
    });

#undef CONFIG_LINES
#undef XML_LINES
#undef PACKAGE

// ---------------------------------------------------------------------------
// No HOME: the user's home from the password database, never the working
// directory

TEST_F(ProbeTest, UnsetHomeUsesThePasswordDatabaseNotTheWorkingDirectory) {
  const struct passwd* pw = getpwuid(getuid());
  std::string pwHome = pw && pw->pw_dir && *pw->pw_dir ? pw->pw_dir : "";
  Ini ini;
  ini.locationKey = "";
  ini.locationFile = expand("<HOME>e2e-{id}.ref");
  writeIni(ini);
  // An empty home would make this the working directory's file.
  AgentInstall a = agent("1.0.0");
  a.locationFile = workDir + "/" + expand("e2e-{id}.ref");
  installAgent(a);
  for (bool empty : {false, true}) {
    SCOPED_TRACE(empty ? "HOME empty" : "HOME unset");
    if (empty) setEnv("HOME", ""); else unsetEnv("HOME");
    Result r = run({"-log", logPath});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(errorMessage(msgAgentNotFound("1.0.0")), r.err);
    std::string refFile = pwHome.empty() ? "" : pwHome + expand("e2e-{id}.ref");
    EXPECT_NE(std::string::npos,
              readFile(logPath).find("refFile: (" + refFile + ")\n"));
  }
}

// ---------------------------------------------------------------------------
// Long paths: every record line is read whole

TEST_F(ProbeTest, AgentUnderALongHomeIsFoundAfterItsInstallation) {
  home = root + "/" + std::string(150, 'h') + "/" + std::string(150, 'h');
  mkdirs(home);
  setEnv("HOME", home);
  Ini ini;
  ini.installerLocation = "installer/install";
  writeIni(ini);
  AgentInstall a = agent("1.0.0");
  a.dir = home + "/agent";
  writeInstaller("installer/install", installs(a));
  EXPECT_EQ(0, run().status);
  EXPECT_EQ(0, run().status);
  EXPECT_EQ(1u, installerRuns().size());
  EXPECT_EQ(2u, agentRuns().size());
}

}  // namespace
}  // namespace e2e
