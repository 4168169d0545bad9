// What the installer and the agent receive from the launcher, byte for byte:
// program path, arguments, environment and working directory; and how the
// launcher reads their ends.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "harness.h"

namespace e2e {
namespace {

const char kInstaller[] = "installer/install";

class ProcessTest : public E2eTest {
 protected:
  // Table texts name the temporary directories by placeholders.
  std::string expand(std::string text) const {
    const std::pair<const char*, const std::string*> names[] = {
        {"{pkg}", &pkgDir}, {"{agent}", &agentDir}, {"{root}", &root},
        {"{bin}", &binDir}, {"{work}", &workDir}, {"{home}", &home}};
    for (const auto& n : names) {
      for (std::string::size_type at; (at = text.find(n.first)) != std::string::npos;) {
        text.replace(at, std::string(n.first).size(), *n.second);
      }
    }
    return text;
  }
  std::vector<std::string> expand(std::vector<std::string> texts) const {
    for (std::string& t : texts) t = expand(t);
    return texts;
  }
  void writeExpandedIni(const Ini& ini) { writeIni(expand(ini.text())); }

  // An absolute location key is the key file itself for an admin, and lies
  // under $HOME otherwise; writing both keeps a test independent of the
  // user it runs as.
  std::string keyFile(const Ini& ini) const {
    std::string key = expand(ini.locationKey);
    return key[0] == '/' ? key : home + "/" + key;
  }
  void mirrorAbsoluteKey(const Ini& ini) {
    std::string key = expand(ini.locationKey);
    if (key[0] == '/') write(home + "/" + key, readFile(key));
  }

  // What the installer learns beside the launcher's environment, for the
  // default Ini: it comes last, in place of inherited entries of its names.
  std::vector<std::string> withInstallerVariables(std::vector<std::string> env) const {
    for (const char* v : {"QUORVIN_LOCATION_FILE={home}/.quorvin/agent.key", "QUORVIN_ADMIN=0",
                          "QUORVIN_REQUIRED_VERSION=1.0.0", "QUORVIN_PACKAGE_DIR={pkg}"}) {
      std::string name = std::string(v, strchr(v, '=') + 1);
      env.erase(std::remove_if(env.begin(), env.end(),
                               [&](const std::string& e) { return e.rfind(name, 0) == 0; }),
                env.end());
      env.push_back(expand(v));
    }
    return env;
  }

  // 5000 variables more than the launcher would ever need.
  void addManyVariables(int count) {
    for (int i = 0; i < count; ++i) {
      env.push_back("E2E_VAR_" + std::to_string(i) + "=value " + std::to_string(i));
    }
  }
};

void adminByIni(Ini& ini) {
  ini.isAdmin = "true";
  ini.locationKey = "{root}/etc/agent.key";
}

// ---------------------------------------------------------------------------
// The installer's command line

struct InstallerArgvCase {
  const char* name;
  bool package;
  std::vector<std::string> args;
  void (*setup)(Ini&);
  std::vector<std::string> expected;
};
void PrintTo(const InstallerArgvCase& c, std::ostream* os) { *os << c.name; }

class InstallerArgvTest
    : public ProcessTest,
      public ::testing::WithParamInterface<InstallerArgvCase> {};

TEST_P(InstallerArgvTest, ReceivesExactlyTheseArguments) {
  const InstallerArgvCase& c = GetParam();
  Ini ini;
  ini.installerLocation = c.package ? "agent.msi" : kInstaller;
  c.setup(ini);
  writeExpandedIni(ini);
  if (c.package) {
    write(pkgDir + "/agent.msi", "package");
    writeStandinInstaller(binDir + "/msiexec.exe", exitsWith({"232"}));
  } else {
    writeInstaller(kInstaller, exitsWith({"232"}));
  }
  Result r = run(expand(c.args));
  std::vector<Record> runs = installerRuns();
  ASSERT_EQ(1u, runs.size()) << r.err;
  EXPECT_EQ(expand(c.expected), runs[0].argv);
  EXPECT_EQ(r.pid, runs[0].ppid);
}

#define NATIVE "{pkg}//installer/install"
#define MSIEXEC "{bin}/msiexec.exe", "/i", "{pkg}//agent.msi"

INSTANTIATE_TEST_SUITE_P(
    Runs, InstallerArgvTest,
    ::testing::Values(
        InstallerArgvCase{"Plain", false, {}, [](Ini&) {},
                          {NATIVE, "-V", "STANDALONE=false"}},
        InstallerArgvCase{"Silent", false, {"-silent"}, [](Ini&) {},
                          {NATIVE, "-silent", "-V", "STANDALONE=false"}},
        InstallerArgvCase{"SilentFromIni", false, {}, [](Ini& i) { i.silent = "TRUE"; },
                          {NATIVE, "-silent", "-V", "STANDALONE=false"}},
        InstallerArgvCase{"AdminFromIni", false, {}, adminByIni,
                          {NATIVE, "-W", "adminCheck.active=false", "-V",
                           "STANDALONE=false"}},
        InstallerArgvCase{"AdminFromCommandLine", false, {"-isAdmin"},
                          [](Ini& i) { i.isAdmin = ""; },
                          {NATIVE, "-W", "adminCheck.active=false", "-V",
                           "STANDALONE=false"}},
        InstallerArgvCase{"NoAdminRequest", false, {}, [](Ini& i) { i.isAdmin = ""; },
                          {NATIVE, "-V", "STANDALONE=false"}},
        InstallerArgvCase{"AdminNo", false, {}, [](Ini& i) { i.isAdmin = "No"; },
                          {NATIVE, "-V", "STANDALONE=false"}},
        InstallerArgvCase{"DataLocationQuotedWithoutBlank", false, {},
                          [](Ini& i) { i.appDataLocation = "{root}/data"; },
                          {NATIVE, "-V", "APPDATALOCATION=\"{root}/data\"", "-V",
                           "STANDALONE=false"}},
        InstallerArgvCase{"DataLocationFromCommandLine", false,
                          {"-appDataLocation", "{root}/my data"},
                          [](Ini& i) { i.appDataLocation = "{root}/data"; },
                          {NATIVE, "-V", "APPDATALOCATION=\"{root}/my data\"", "-V",
                           "STANDALONE=false"}},
        InstallerArgvCase{"LicenseFromIni", false, {},
                          [](Ini& i) { i.licenseAccepted = "Yes"; },
                          {NATIVE, "-V", "licenseAccepted=true", "-V",
                           "STANDALONE=false"}},
        InstallerArgvCase{"LicenseFromCommandLine", false, {"-licenseAccepted"},
                          [](Ini&) {},
                          {NATIVE, "-V", "licenseAccepted=true", "-V",
                           "STANDALONE=false"}},
        InstallerArgvCase{"Everything", false, {"-silent"},
                          [](Ini& i) {
                            adminByIni(i);
                            i.appDataLocation = "{root}/data";
                            i.licenseAccepted = "true";
                            i.installerArgs = {"arg1"};
                          },
                          {NATIVE, "-silent", "-W", "adminCheck.active=false",
                           "-V", "APPDATALOCATION=\"{root}/data\"", "-V",
                           "licenseAccepted=true", "arg1", "-V",
                           "STANDALONE=false"}},
        InstallerArgvCase{"ExtraArguments", false, {},
                          [](Ini& i) {
                            i.installerArgs = {"a b", "x=1", "say \"hi\"",
                                               "tab\tonly", "", "-silent"};
                          },
                          {NATIVE, "\"a b\"", "x=1", "\"say \"hi\"\"",
                           "tab\tonly", "", "-silent", "-V", "STANDALONE=false"}},
        InstallerArgvCase{"CommandLineListReplacesIniList", false,
                          {"-installerArgs", "A", "B C", "-silent",
                           "-managerArgs", "M", "-installerArgs", "D"},
                          [](Ini& i) { i.installerArgs = {"ini1", "ini2"}; },
                          {NATIVE, "A", "\"B C\"", "-silent", "D", "-V",
                           "STANDALONE=false"}},
        InstallerArgvCase{"EmptyCommandLineListKeepsIniList", false,
                          {"-installerArgs"},
                          [](Ini& i) { i.installerArgs = {"ini1"}; },
                          {NATIVE, "ini1", "-V", "STANDALONE=false"}},
        InstallerArgvCase{"LocationWithLeadingSlash", false, {},
                          [](Ini& i) { i.installerLocation = "/installer/install"; },
                          {"{pkg}///installer/install", "-V", "STANDALONE=false"}},
        InstallerArgvCase{"PackagePlain", true, {}, [](Ini&) {},
                          {MSIEXEC, "STANDALONE=false"}},
        InstallerArgvCase{"PackageEverything", true, {"-silent"},
                          [](Ini& i) {
                            adminByIni(i);
                            i.appDataLocation = "{root}/data";
                            i.licenseAccepted = "true";
                            i.installerArgs = {"arg1", "p q"};
                          },
                          {MSIEXEC, "/q", "arg1", "\"p q\"", "STANDALONE=false",
                           "APPDATALOCATION=\"{root}/data\""}}),
    [](const ::testing::TestParamInfo<InstallerArgvCase>& info) {
      return std::string(info.param.name);
    });

#undef NATIVE
#undef MSIEXEC

TEST_F(ProcessTest, InstallerGetsEveryOneOfManyArguments) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeInstaller(kInstaller, exitsWith({"232"}));
  std::vector<std::string> args = {"-installerArgs"};
  std::vector<std::string> expected = {pkgDir + "//" + kInstaller};
  for (int i = 0; i < 600; ++i) {
    args.push_back("arg" + std::to_string(i));
    expected.push_back("arg" + std::to_string(i));
  }
  expected.insert(expected.end(), {"-V", "STANDALONE=false"});
  Result r = run(args);
  EXPECT_EQ(232, r.status);
  ASSERT_EQ(1u, installerRuns().size());
  EXPECT_EQ(expected, installerRuns()[0].argv);
}

// ---------------------------------------------------------------------------
// The agent's command line

struct AgentArgvCase {
  const char* name;
  std::vector<std::string> args;
  void (*setup)(Ini&);
  std::vector<std::string> expected;
  const char* dir = "{agent}";       // installation directory
  const char* locationValue = "";    // "location" entry; "" for `dir`
};
void PrintTo(const AgentArgvCase& c, std::ostream* os) { *os << c.name; }

class AgentArgvTest : public ProcessTest,
                      public ::testing::WithParamInterface<AgentArgvCase> {};

TEST_P(AgentArgvTest, ReceivesExactlyTheseArguments) {
  const AgentArgvCase& c = GetParam();
  Ini ini;
  c.setup(ini);
  writeExpandedIni(ini);
  AgentInstall a = agent(ini.version);
  a.dir = expand(c.dir);
  a.program = ini.launcher;
  a.locationFile = keyFile(ini);
  a.locationValue = expand(c.locationValue);
  installAgent(a);
  mirrorAbsoluteKey(ini);
  if (!ini.launcherSilent.empty()) {
    writeStandinAgent(a.dir + "/" + ini.launcherSilent, Plan());
  }
  Result r = run(expand(c.args));
  EXPECT_EQ(0, r.status) << r.err;
  std::vector<Record> runs = agentRuns();
  ASSERT_EQ(1u, runs.size()) << r.err;
  EXPECT_EQ(expand(c.expected), runs[0].argv);
}

#define AGENT "{agent}/bin/agent"

INSTANTIATE_TEST_SUITE_P(
    Runs, AgentArgvTest,
    ::testing::Values(
        AgentArgvCase{"Plain", {}, [](Ini&) {}, {AGENT}},
        AgentArgvCase{"Wait", {"-wait"}, [](Ini&) {}, {AGENT}},
        AgentArgvCase{"Silent", {"-silent"}, [](Ini&) {},
                      {AGENT, "-silent", "-nosplash"}},
        AgentArgvCase{"SilentProgram", {"-silent"},
                      [](Ini& i) { i.launcherSilent = "bin/agentc"; },
                      {"{agent}/bin/agentc", "-silent", "-nosplash"}},
        AgentArgvCase{"SilentProgramOnlyWhenSilent", {},
                      [](Ini& i) { i.launcherSilent = "bin/agentc"; }, {AGENT}},
        AgentArgvCase{"AdminFromIni", {}, adminByIni, {AGENT, "-isAdmin"}},
        AgentArgvCase{"AdminFromCommandLine", {"-isAdmin"},
                      [](Ini& i) {
                        i.isAdmin = "";
                        i.locationKey = "{root}/etc/agent.key";
                      },
                      {AGENT, "-isAdmin"}},
        AgentArgvCase{"NoAdminRequest", {},
                      [](Ini& i) {
                        i.isAdmin = "";
                        i.locationKey = "{root}/etc/agent.key";
                      },
                      {AGENT}},
        AgentArgvCase{"Options", {"-input", "/x/resp.xml", "-appDataLocation",
                                  "{root}/d", "-nl", "fr"},
                      [](Ini&) {},
                      {AGENT, "-input", "/x/resp.xml", "-dataLocation",
                       "{root}/d", "-nl", "fr"}},
        AgentArgvCase{"IniOptions", {},
                      [](Ini& i) {
                        i.inputFile = "resp.xml";
                        i.appDataLocation = "{root}/my data";
                        i.nl = "pt_BR";
                      },
                      {AGENT, "-input", "{pkg}//resp.xml", "-dataLocation",
                       "{root}/my data", "-nl", "pt_BR"}},
        AgentArgvCase{"Everything", {"-silent"},
                      [](Ini& i) {
                        adminByIni(i);
                        i.isAdmin = "yes";
                        i.launcher = "launcher";
                        i.launcherSilent = "launcherc";
                        i.inputFile = "/tmp/response.xml";
                        i.appDataLocation = "{root}/data";
                        i.nl = "de";
                        i.managerArgs = {"-vmargs", "a b"};
                      },
                      {"{agent}/launcherc", "-silent", "-nosplash", "-isAdmin",
                       "-input", "/tmp/response.xml", "-dataLocation",
                       "{root}/data", "-nl", "de", "-vmargs", "\"a b\""}},
        AgentArgvCase{"ExtraArguments", {},
                      [](Ini& i) {
                        i.managerArgs = {"a b", "x=1", "say \"hi\"", "tab\tonly",
                                         ""};
                      },
                      {AGENT, "\"a b\"", "x=1", "\"say \"hi\"\"", "tab\tonly", ""}},
        AgentArgvCase{"CommandLineListReplacesIniList",
                      {"-managerArgs", "m 1", "-silent", "-wait"},
                      [](Ini& i) { i.managerArgs = {"ini1"}; },
                      {AGENT, "\"m 1\"", "-silent", "-wait"}},
        AgentArgvCase{"EmptyCommandLineListKeepsIniList", {"-managerArgs"},
                      [](Ini& i) { i.managerArgs = {"ini1"}; }, {AGENT, "ini1"}},
        AgentArgvCase{"LocationWithTrailingSlash", {}, [](Ini&) {},
                      {"{agent}//bin/agent"}, "{agent}", "{agent}/"},
        AgentArgvCase{"JavaRuntime", {},
                      [](Ini& i) { i.launcher = "jre/bin/java"; },
                      {"{agent}/jre/bin/java", "-jar",
                       "{agent}/eclipse/startup.jar"}},
        AgentArgvCase{"JavaRuntimeSilent", {"-silent", "-nl", "ja"},
                      [](Ini& i) { i.launcher = "jre/bin/java"; },
                      {"{agent}/jre/bin/java", "-jar",
                       "{agent}/eclipse/startup.jar", "-silent", "-nosplash",
                       "-nl", "ja"}},
        AgentArgvCase{"JavaRuntimeUnderABlank", {},
                      [](Ini& i) { i.launcher = "jre/bin/java"; },
                      {"{root}/my agent/jre/bin/java", "-jar",
                       "{root}/my agent/eclipse/startup.jar"},
                      "{root}/my agent"},
        AgentArgvCase{"AnyNameEndingInJava", {},
                      [](Ini& i) { i.launcher = "bin/myjava"; },
                      {"{agent}/bin/myjava", "-jar",
                       "{agent}/eclipse/startup.jar"}},
        AgentArgvCase{"JavaInCapitalsIsNoRuntime", {},
                      [](Ini& i) { i.launcher = "bin/Java"; },
                      {"{agent}/bin/Java"}}),
    [](const ::testing::TestParamInfo<AgentArgvCase>& info) {
      return std::string(info.param.name);
    });

#undef AGENT

TEST_F(ProcessTest, AgentGetsEveryOneOfManyArguments) {
  writeIni(Ini());
  installAgent(agent("1.0.0"));
  std::vector<std::string> args = {"-wait", "-managerArgs"};
  std::vector<std::string> expected = {agentDir + "/bin/agent"};
  for (int i = 0; i < 600; ++i) {
    args.push_back("arg" + std::to_string(i));
    expected.push_back("arg" + std::to_string(i));
  }
  args.push_back(std::string(100000, 'x'));
  expected.push_back(std::string(100000, 'x'));
  Result r = run(args);
  EXPECT_EQ(0, r.status) << r.err;
  ASSERT_EQ(1u, agentRuns().size());
  EXPECT_EQ(expected, agentRuns()[0].argv);
}

// ---------------------------------------------------------------------------
// Working directory and environment

TEST_F(ProcessTest, ChildrenRunInTheLaunchersWorkingDirectory) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeInstaller(kInstaller, exitsWith({"232"}));
  cwd = root + "/some dir";
  mkdirs(cwd);
  run();
  ASSERT_EQ(1u, installerRuns().size());
  EXPECT_EQ(cwd, installerRuns()[0].cwd);

  installAgent(agent("1.0.0"));
  for (std::vector<std::string> args :
       {std::vector<std::string>{}, {"-wait"}}) {
    SCOPED_TRACE(args.size());
    clearRecords();
    Result r = run(args);
    EXPECT_EQ(0, r.status) << r.err;
    ASSERT_EQ(1u, agentRuns().size());
    EXPECT_EQ(cwd, agentRuns()[0].cwd);
  }
}

struct EnvCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> vars;  // added to env
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> installerSees;  // replaced
};
void PrintTo(const EnvCase& c, std::ostream* os) { *os << c.name; }

class InstallerEnvTest : public ProcessTest,
                         public ::testing::WithParamInterface<EnvCase> {};

TEST_P(InstallerEnvTest, GetsTheLaunchersEnvironmentWithOnlyLangReplaced) {
  const EnvCase& c = GetParam();
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeInstaller(kInstaller, exitsWith({"232"}));
  for (const auto& v : c.vars) env.push_back(v.first + "=" + v.second);
  std::vector<std::string> expected = env;
  for (std::string& e : expected) {
    for (const auto& v : c.installerSees) {
      if (e.compare(0, v.first.size() + 1, v.first + "=") == 0) {
        e = v.first + "=" + v.second;
      }
    }
  }
  Result r = run(c.args);
  EXPECT_EQ(232, r.status) << r.err;
  ASSERT_EQ(1u, installerRuns().size());
  EXPECT_EQ(withInstallerVariables(expected), installerRuns()[0].env);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, InstallerEnvTest,
    ::testing::Values(
        EnvCase{"NoLanguage", {{"LANG", "en_US.UTF-8"}, {"TERM", "x"}}, {}, {}},
        EnvCase{"LanguageReplacesLang",
                {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}, {"LC_ALL", "C"},
                 {"LANGX", "keep"}, {"XLANG", "keep"}, {"A", "b=c"}},
                {"-nl", "fr"},
                {{"LANG", "fr"}}},
        EnvCase{"NoLangNoneAdded", {{"LANGUAGE", "de"}, {"LC_MESSAGES", "C"}},
                {"-nl", "fr"}, {}},
        EnvCase{"EveryLangEntryReplaced", {{"LANG", "C"}, {"X", "1"}, {"LANG", "de"}},
                {"-nl", "fr_CA"}, {{"LANG", "fr_CA"}}},
        EnvCase{"InheritedInstallerVariablesGiveWay",
                {{"QUORVIN_ADMIN", "1"}, {"QUORVIN_LOCATION_FILE", "/etc/x"}, {"QUORVIN_X", "keep"}},
                {}, {}},
        EnvCase{"ValuesWithOddBytes",
                {{"LANG", "en"}, {"Q", "a \"b\"\tc\\d"}, {"EMPTY", ""}},
                {"-nl", "es"}, {{"LANG", "es"}}}),
    [](const ::testing::TestParamInfo<EnvCase>& info) {
      return std::string(info.param.name);
    });

// The installer writes where its variable says; the agent starts only when
// that is the file the launcher reads afterwards.
struct LocationVarCase {
  const char* name;
  void (*setup)(Ini&);
  const char* file;
  const char* admin;
};
void PrintTo(const LocationVarCase& c, std::ostream* os) { *os << c.name; }

class InstallerLocationVarTest
    : public ProcessTest,
      public ::testing::WithParamInterface<LocationVarCase> {};

TEST_P(InstallerLocationVarTest, NamesTheFileTheLauncherReadsNext) {
  const LocationVarCase& c = GetParam();
  Ini ini;
  ini.installerLocation = kInstaller;
  c.setup(ini);
  writeExpandedIni(ini);
  AgentInstall install = agent("1.0.0");
  install.locationFile = expand(c.file);
  writeInstaller(kInstaller, installs(install));
  Result r = run();
  EXPECT_EQ(0, r.status) << r.err;
  ASSERT_EQ(1u, installerRuns().size());
  EXPECT_EQ(expand(c.file), varValue(installerRuns()[0].env, "QUORVIN_LOCATION_FILE"));
  EXPECT_EQ(c.admin, varValue(installerRuns()[0].env, "QUORVIN_ADMIN"));
  EXPECT_EQ(1u, agentRuns().size());
}

void referenceOnly(Ini& i, const char* file) {
  i.locationKey = "";
  i.locationFile = file;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, InstallerLocationVarTest,
    ::testing::Values(
        LocationVarCase{"PerUserKey", [](Ini&) {}, "{home}/.quorvin/agent.key", "0"},
        LocationVarCase{"MachineKey", adminByIni, "{root}/etc/agent.key", "1"},
        LocationVarCase{"RelativeMachineKey",
                        [](Ini& i) { i.isAdmin = "yes", i.locationKey = "keys/agent.key"; },
                        "{pkg}//keys/agent.key", "1"},
        LocationVarCase{"ReferenceFileForAUser",
                        [](Ini& i) { referenceOnly(i, "<HOME>/ref/agent.ref"); },
                        "{home}/ref/agent.ref", "0"},
        LocationVarCase{"ReferenceFileInAdminMode",
                        [](Ini& i) { i.isAdmin = "true", referenceOnly(i, "<CURRDIR>agent.ref"); },
                        "{pkg}/agent.ref", "1"},
        LocationVarCase{"RelativeReferenceFile",
                        [](Ini& i) { referenceOnly(i, "ref/agent.ref"); },
                        "{pkg}//ref/agent.ref", "0"}),
    [](const ::testing::TestParamInfo<LocationVarCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(ProcessTest, IniLanguageAlsoReplacesLang) {
  Ini ini;
  ini.installerLocation = kInstaller;
  ini.nl = "it";
  writeIni(ini);
  writeInstaller(kInstaller, exitsWith({"232"}));
  setEnv("LANG", "en_US.UTF-8");
  run();
  ASSERT_EQ(1u, installerRuns().size());
  EXPECT_EQ("it", varValue(installerRuns()[0].env, "LANG"));
}

TEST_F(ProcessTest, AgentNeverGetsAChangedEnvironment) {
  Ini ini;
  ini.installerLocation = kInstaller;
  ini.nl = "de";
  writeIni(ini);
  writeInstaller(kInstaller, installsAgent("1.0.0"));
  setEnv("LANG", "en_US.UTF-8");
  setEnv("LC_ALL", "C");
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-nl", "fr"}, {"-nl", "fr", "-wait"}, {"-silent"}}) {
    SCOPED_TRACE(args.size());
    clearRecords();
    Result r = run(args);
    EXPECT_EQ(0, r.status) << r.err;
    ASSERT_EQ(1u, agentRuns().size());
    EXPECT_EQ(env, agentRuns()[0].env);
  }
}

TEST_F(ProcessTest, InstallerGetsEveryOneOfManyVariables) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeInstaller(kInstaller, exitsWith({"232"}));
  setEnv("LANG", "C");
  addManyVariables(5000);
  for (bool language : {false, true}) {
    SCOPED_TRACE(language ? "with -nl" : "without -nl");
    clearRecords();
    std::vector<std::string> expected = withInstallerVariables(env);
    for (std::string& e : expected) {
      if (language && e.compare(0, 5, "LANG=") == 0) e = "LANG=fr";
    }
    Result r = run(language ? std::vector<std::string>{"-nl", "fr"}
                            : std::vector<std::string>{});
    EXPECT_EQ(232, r.status) << r.err.substr(0, 2000);
    ASSERT_EQ(1u, installerRuns().size());
    EXPECT_EQ(expected.size(), installerRuns()[0].env.size());
    EXPECT_TRUE(expected == installerRuns()[0].env);
  }
}

TEST_F(ProcessTest, WaitedAgentGetsEveryOneOfManyVariables) {
  writeIni(Ini());
  installAgent(agent("1.0.0", {"23", "0"}));
  addManyVariables(5000);
  setEnv("E2E_LONG", std::string(100000, 'v'));
  Result r = run({"-wait", "-nl", "fr"});
  EXPECT_EQ(0, r.status) << r.err.substr(0, 2000);
  ASSERT_EQ(2u, agentRuns().size());
  EXPECT_TRUE(env == agentRuns()[1].env);
}

// ---------------------------------------------------------------------------
// Children that cannot be started

TEST_F(ProcessTest, InstallerThatCannotStartIsAFailedInstallation) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  writeInstaller(kInstaller, installsAgent("1.0.0"));
  ASSERT_EQ(0, chmod((pkgDir + "/" + kInstaller).c_str(), 0644));
  std::string log = workDir + "/launcher.log";
  Result r = run({"-log", log});
  EXPECT_EQ(255, r.status);
  // One message: the child that failed to start showed and flushed nothing.
  EXPECT_EQ(errorMessage(msgInstallFailed(255)), r.err);
  EXPECT_EQ("", r.out);
  EXPECT_TRUE(installerRuns().empty());
  std::string text = readFile(log);
  std::string section = "\nCommand to launch agent install\n";
  std::string::size_type first = text.find(section);
  ASSERT_NE(std::string::npos, first) << text;
  EXPECT_EQ(std::string::npos, text.find(section, first + 1)) << text;
  // The launcher alone can tell this 255 from an installer's own.
  EXPECT_NE(std::string::npos,
            text.find("Cannot start " + pkgDir + "//" + kInstaller +
                      ": no execute permission\n\nReturn code of agent installer\n"))
      << text;
}

TEST_F(ProcessTest, InstallerSavedWithCrlfLineEndsIsLoggedWithTheReason) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  write(pkgDir + "/" + kInstaller, "#!/bin/sh\r\nexit 0\r\n");
  ASSERT_EQ(0, chmod((pkgDir + "/" + kInstaller).c_str(), 0755));
  Result r = run({"-log", logPath});
  EXPECT_EQ(255, r.status);
  EXPECT_EQ(errorMessage(msgInstallFailed(255)), r.err);
  EXPECT_NE(std::string::npos,
            readFile(logPath).find("Cannot start " + pkgDir + "//" + kInstaller +
                                   ": the #! line ends with a carriage return (CRLF "
                                   "line ends): interpreter \"/bin/sh\\r\" not found\n"))
      << readFile(logPath);
}

TEST_F(ProcessTest, PackageWithoutMsiexecIsAFailedInstallation) {
  Ini ini;
  ini.installerLocation = "agent.msi";
  writeIni(ini);
  write(pkgDir + "/agent.msi", "package");
  Result r = run({"-log", logPath});
  EXPECT_EQ(255, r.status);
  EXPECT_EQ(errorMessage(msgInstallFailed(255)), r.err);
  EXPECT_NE(std::string::npos, readFile(logPath).find("Cannot start : no program path\n"));
}

TEST_F(ProcessTest, WaitedAgentThatCannotStartEndsWith255) {
  writeIni(Ini());
  AgentInstall a = agent("1.0.0");
  a.executable = false;
  installAgent(a);
  for (const char* mode : {"-wait", "-silent"}) {
    SCOPED_TRACE(mode);
    Result r = run({mode});
    EXPECT_EQ(255, r.status);
    EXPECT_EQ("", r.err);
  }
}

TEST_F(ProcessTest, AgentThatCannotStartIsLoggedLast) {
  writeIni(Ini());
  AgentInstall a = agent("1.0.0");
  a.executable = false;
  installAgent(a);
  std::string program = agentDir + "/bin/agent";
  auto logEnd = [&](std::string::size_type size) {
    std::string text = readFile(logPath);
    return text.substr(text.size() < size ? 0 : text.size() - size);
  };
  std::string end = "isWait: (0)\nCannot start " + program + ": no execute permission\n";
  EXPECT_EQ(255, run({"-log", logPath}).status);  // in place of the launcher
  EXPECT_EQ(end, logEnd(end.size()));
  // Waited for, its directory gone before the restart; it never held the log.
  write(program, "#!/bin/sh\nls -l /proc/$$/fd >'" + root + "/fds'\nrm -r '" +
                     agentDir + "'\nexit 23\n");
  ASSERT_EQ(0, chmod(program.c_str(), 0755));
  EXPECT_EQ(255, run({"-wait", "-log", logPath}).status);
  end = "isWait: (1)\nCannot start " + program + ": no such file\n";
  EXPECT_EQ(end, logEnd(end.size()));
  EXPECT_EQ(std::string::npos, readFile(root + "/fds").find(logPath));
}

TEST_F(ProcessTest, InstallerThatEndsWith255ItselfStartedAndHeldNoReportPipe) {
  Ini ini;
  ini.installerLocation = kInstaller;
  writeIni(ini);
  // The pipes the installer holds beyond its standard descriptors.
  write(pkgDir + "/" + kInstaller, "#!/bin/sh\nfor fd in /proc/$$/fd/*; do [ ${fd##*/} -gt 2 ] && "
                                   "readlink $fd; done | grep pipe: >'" + root + "/pipes'\nexit 255\n");
  ASSERT_EQ(0, chmod((pkgDir + "/" + kInstaller).c_str(), 0755));
  Result r = run({"-log", logPath});
  EXPECT_EQ(255, r.status);
  EXPECT_EQ(errorMessage(msgInstallFailed(255)), r.err);
  EXPECT_EQ(std::string::npos, readFile(logPath).find("Cannot start")) << readFile(logPath);
  // Only those the launcher itself was given.
  std::string pipes = readFile(root + "/pipes");
  size_t foreign = 0;
  for (size_t at = 0, end; (end = pipes.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string pipe = pipes.substr(at, end - at);
    bool ours = false;
    for (int fd = 0; fd < 1024; ++fd) {
      char target[64] = {};
      std::string link = "/proc/self/fd/" + std::to_string(fd);
      if (readlink(link.c_str(), target, sizeof target - 1) > 0 && pipe == target) ours = true;
    }
    if (!ours) ++foreign;
  }
  EXPECT_EQ(0u, foreign) << pipes;
}

TEST_F(ProcessTest, WaitedAgentThatDumpsCoreEndsWith128PlusTheSignal) {
  writeIni(Ini());
  installAgent(agent("1.0.0"));
  // The core lands in the agent's working directory, inside the test's own.
  write(agentDir + "/bin/agent", "#!/bin/sh\nulimit -c unlimited\nkill -ABRT $$\n");
  EXPECT_EQ(134, run({"-wait"}).status);
}

TEST_F(ProcessTest, TwentyRestartsTakeNoTimeOfTheirOwn) {
  writeIni(Ini());
  std::vector<std::string> outcomes(20, "23");
  outcomes.push_back("0");
  installAgent(agent("1.0.0", outcomes));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, run({"-wait"}).status);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(21u, agentRuns().size());
}

}  // namespace
}  // namespace e2e
