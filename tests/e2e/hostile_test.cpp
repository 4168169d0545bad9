// Hostile inputs and faults: files, arguments and environments far beyond
// anything sensible, files that are directories or cannot be read, a process
// table that refuses new processes, a log that cannot be written. The
// launcher must end as the sequence says, without crashing, hanging or a
// sanitizer report.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "harness.h"

using namespace std::string_literals;

namespace e2e {
namespace {

// A user id that no other process runs as, so a process limit counts the
// launcher alone.
const char kOtherUid[] = "64999";

class HostileTest : public E2eTest {
 protected:
  std::string expand(std::string text) const {
    const std::pair<const char*, std::string> names[] = {
        {"{pkg}", pkgDir}, {"{agent}", agentDir}, {"{root}", root}};
    for (const auto& n : names) {
      for (std::string::size_type at; (at = text.find(n.first)) != std::string::npos;) {
        text.replace(at, std::string(n.first).size(), n.second);
      }
    }
    return text;
  }

  // The launcher through a shell script that runs `prelude`, then execs
  // `exec` + the launcher, so argv[0] still names pkg/setup.
  Result runWrapped(const std::string& prelude, const std::string& exec,
                    const std::vector<std::string>& args) {
    std::string err;
    EXPECT_TRUE(standin::copyFile(std::getenv("LAUNCHER_UNDER_TEST"),
                                  pkgDir + "/setup", 0755, &err)) << err;
    launcherName = "wrap";
    write(launcherPath(), "#!/bin/sh\n" + prelude + "\nexec " + exec + " '" +
                              pkgDir + "/setup' \"$@\"\n");
    chmod(launcherPath().c_str(), 0755);
    Result r = run(args);
    launcherName = "setup";
    return r;
  }

  // As another user (the suite runs as root; setpriv and prlimit come with
  // util-linux): every directory searchable, records writable.
  Result runAsOtherUser(const std::string& limits,
                        const std::vector<std::string>& args) {
    chmod(root.c_str(), 0755);
    chmod(recordDir.c_str(), 0777);
    return runWrapped("", limits + "setpriv --reuid=" + kOtherUid + " --regid=" +
                              kOtherUid + " --clear-groups",
                      args);
  }
};

void expectSound(const Result& r) {
  EXPECT_FALSE(r.timedOut);
  EXPECT_FALSE(r.status > 128 && r.status < 128 + 65)
      << "killed by signal " << r.status - 128;
  EXPECT_EQ(std::string::npos, r.err.find("Sanitizer")) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("runtime error")) << r.err;
}

// ---------------------------------------------------------------------------
// Every file the launcher reads, spoilt one at a time

enum File { kIni, kKey, kConfig, kXml };

struct FileCase {
  const char* name;
  File file;
  // Or "<dir>", "<loop>", "<fifo>", "<unreadable>" (run as another user).
  std::string content;
  int status;
  std::vector<std::string> agentArgs;  // after the program, when it starts
  std::string err;
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class FileContentTest : public HostileTest,
                        public ::testing::WithParamInterface<FileCase> {};

TEST_P(FileContentTest, EndsWithItsStatusAndMessage) {
  const FileCase& c = GetParam();
  writeIni(Ini());
  installAgent(agent("1.0.0"));
  const std::string paths[] = {iniPath(), home + "/.quorvin/agent.key",
                               agentDir + "/eclipse/configuration/config.ini",
                               agentDir + "/data/installed.xml"};
  const std::string& path = paths[c.file];
  Result r;
  if (c.content == "<unreadable>") {
    ASSERT_EQ(0, chmod(path.c_str(), 0));
    r = runAsOtherUser("", {});
  } else {
    ASSERT_EQ(0, unlink(path.c_str()));
    if (c.content == "<dir>") {
      mkdirs(path);
    } else if (c.content == "<loop>") {
      ASSERT_EQ(0, symlink((path + ".2").c_str(), path.c_str()));
      ASSERT_EQ(0, symlink(path.c_str(), (path + ".2").c_str()));
    } else if (c.content == "<fifo>") {
      ASSERT_EQ(0, mkfifo(path.c_str(), 0644));
    } else {
      write(path, expand(c.content));
    }
    r = run();
  }
  expectSound(r);
  EXPECT_EQ(c.status, r.status);
  EXPECT_EQ(expand(c.err), r.err);
  if (c.status == 0) {
    std::vector<std::string> expected = {agentDir + "/bin/agent"};
    expected.insert(expected.end(), c.agentArgs.begin(), c.agentArgs.end());
    ASSERT_EQ(1u, agentRuns().size());
    EXPECT_EQ(expected, agentRuns()[0].argv);
  } else {
    EXPECT_TRUE(agentRuns().empty());
  }
}

const std::string kLong(100000, 'x');
const std::string kNotFound = errorMessage(msgAgentNotFound("1.0.0"));
const std::string kNoIni = "Cannot open INI file: {pkg}/setup.ini\n";
const std::string kPackage = "<package id='com.telvane.quorvin.agent' ";

Ini iniWith(void (*change)(Ini&)) {
  Ini ini;
  change(ini);
  return ini;
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileContentTest,
    ::testing::Values(
        FileCase{"IniLongLine", kIni, kLong + "\n" + Ini().text(), 0, {}, ""},
        // The whole value counts, however long.
        FileCase{"IniLongValue", kIni,
                 iniWith([](Ini& i) { i.version = std::string(100000, '9'); }).text(),
                 1, {}, errorMessage(msgAgentNotFound(std::string(100000, '9')))},
        FileCase{"IniLongArgument", kIni,
                 iniWith([](Ini& i) { i.managerArgs = {std::string(100000, 'a')}; }).text(),
                 0, {std::string(100000, 'a')}, ""},
        FileCase{"IniNulAndInvalidUtf8", kIni,
                 Ini().text() + "[MANAGER]\0\nARG=\xc3\x28\nARG=a\0b\n[COMMON]\nNL=\xff\xfe\n"s,
                 0, {"-nl", "\xff\xfe", "\xc3\x28", "a"}, ""},
        FileCase{"IniIsADirectory", kIni, "<dir>", 1, {}, kNoIni},
        // A pipe nobody writes to must not hold the launcher up.
        FileCase{"IniIsAFifo", kIni, "<fifo>", 1, {}, kNoIni},
        FileCase{"IniIsALinkLoop", kIni, "<loop>", 1, {}, kNoIni},
        FileCase{"IniUnreadable", kIni, "<unreadable>", 1, {}, kNoIni},
        FileCase{"KeyLongLineAndNul", kKey, kLong + "\nlocation={agent}\0junk\n"s,
                 0, {}, ""},
        FileCase{"KeyLongValue", kKey, "location={agent}" + kLong + "\n", 1, {},
                 kNotFound},
        FileCase{"KeyInvalidUtf8", kKey, "\xff=\xfe\nlocation={agent}\n", 0, {}, ""},
        FileCase{"KeyIsADirectory", kKey, "<dir>", 1, {}, kNotFound},
        FileCase{"KeyIsALinkLoop", kKey, "<loop>", 1, {}, kNotFound},
        FileCase{"KeyIsAFifo", kKey, "<fifo>", 1, {}, kNotFound},
        FileCase{"KeyUnreadable", kKey, "<unreadable>", 1, {}, kNotFound},
        // A data line without "=" ends the search and keeps the value so far.
        FileCase{"ConfigLongLinesNulAndInvalidUtf8", kConfig,
                 "#" + kLong + "\n\xff\xfe\nzel.appDataLocation={agent}/data\0junk\n"s +
                     "zel.appDataLocationX" + kLong + "\n",
                 0, {}, ""},
        FileCase{"ConfigLongValueLast", kConfig,
                 "zel.appDataLocation={agent}/data\nzel.appDataLocation=" + kLong,
                 1, {}, kNotFound},
        FileCase{"ConfigIsADirectory", kConfig, "<dir>", 1, {}, kNotFound},
        FileCase{"ConfigIsALinkLoop", kConfig, "<loop>", 1, {}, kNotFound},
        FileCase{"ConfigIsAFifo", kConfig, "<fifo>", 1, {}, kNotFound},
        FileCase{"ConfigUnreadable", kConfig, "<unreadable>", 1, {}, kNotFound},
        FileCase{"XmlLongLineAndNul", kXml,
                 kLong + "\n\0\n"s + kPackage + "version='1.0.0'/>\0junk\n"s, 0, {}, ""},
        // Read whole, as a short "1.0.0x" would be.
        FileCase{"XmlLongVersion", kXml, kPackage + "version='1.0.0" + kLong + "'/>\n",
                 0, {}, ""},
        FileCase{"XmlInvalidUtf8Qualifier", kXml,
                 kPackage + "version='1.0.0.\xff\xfe'/>\n", 0, {}, ""},
        FileCase{"XmlIsADirectory", kXml, "<dir>", 1, {}, kNotFound},
        FileCase{"XmlIsALinkLoop", kXml, "<loop>", 1, {}, kNotFound},
        FileCase{"XmlIsAFifo", kXml, "<fifo>", 1, {}, kNotFound},
        FileCase{"XmlUnreadable", kXml, "<unreadable>", 1, {}, kNotFound}),
    [](const ::testing::TestParamInfo<FileCase>& info) {
      return std::string(info.param.name);
    });

// ---------------------------------------------------------------------------
// Sheer numbers

TEST_F(HostileTest, TenThousandArgLinesEachReachTheirProgram) {
  Ini ini;
  ini.installerLocation = "installer/install";
  std::vector<std::string> installerGets = {pkgDir + "//installer/install"};
  std::vector<std::string> agentGets = {agentDir + "/bin/agent"};
  for (int i = 0; i < 10000; ++i) {
    ini.installerArgs.push_back("i" + std::to_string(i));
    ini.managerArgs.push_back("m" + std::to_string(i));
    installerGets.push_back("i" + std::to_string(i));
    agentGets.push_back("m" + std::to_string(i));
  }
  installerGets.insert(installerGets.end(), {"-V", "STANDALONE=false"});
  writeIni(ini);
  writeInstaller("installer/install", installsAgent("1.0.0"));
  Result r = run({"-log", logPath});
  expectSound(r);
  EXPECT_EQ(0, r.status) << r.err.substr(0, 2000);
  ASSERT_EQ(1u, installerRuns().size());
  EXPECT_TRUE(installerGets == installerRuns()[0].argv);
  ASSERT_EQ(1u, agentRuns().size());
  EXPECT_TRUE(agentGets == agentRuns()[0].argv);
  EXPECT_NE(std::string::npos, readFile(logPath).find("\niniManagerArgs[9999]: (m9999)\n"));
}

TEST_F(HostileTest, TenThousandArgumentsAndFiveThousandVariablesReachTheAgent) {
  writeIni(Ini());
  installAgent(agent("1.0.0"));
  std::vector<std::string> args = {"-log", logPath, "-managerArgs"};
  std::vector<std::string> agentGets = {agentDir + "/bin/agent"};
  for (int i = 0; i < 10000; ++i) {
    args.push_back("-a" + std::to_string(i));
    agentGets.push_back("-a" + std::to_string(i));
  }
  for (int i = 0; i < 5000; ++i) {
    env.push_back("E2E_" + std::to_string(i) + "=\xff" + std::to_string(i));
  }
  Result r = run(args);
  expectSound(r);
  EXPECT_EQ(0, r.status) << r.err.substr(0, 2000);
  ASSERT_EQ(1u, agentRuns().size());
  EXPECT_TRUE(agentGets == agentRuns()[0].argv);
  EXPECT_TRUE(env == agentRuns()[0].env);
}

// ---------------------------------------------------------------------------
// Paths longer than the system's own limit

// A launcher whose argv[0] names nothing takes its own path from the
// kernel, never ".ini" in the working directory.
TEST_F(HostileTest, Argv0LongerThanAPathCanBe) {
  writeIni(Ini());
  installAgent(agent("1.0.0"));
  std::string dots;
  while (dots.size() < 5000) dots += "./";
  for (const std::string& argv0 :
       {pkgDir + "/" + dots + "setup", std::string(5000, 's'), dots + "setup"}) {
    Result r = runAs(argv0, {});
    expectSound(r);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_FALSE(agentRuns().empty());
  }
}

// A working directory deeper than PATH_MAX, reached through two symbolic
// links since no single path may name it. Made and removed through
// descriptors; the fixture's clean-up could not walk it.
class DeepDirectory {
 public:
  DeepDirectory(const std::string& base, int levels) : name_(200, 'd') {
    fds_.push_back(open(base.c_str(), O_DIRECTORY | O_RDONLY));
    std::string relative;
    for (int i = 1; i <= levels && fds_.back() >= 0; ++i) {
      mkdirat(fds_.back(), name_.c_str(), 0755);
      fds_.push_back(openat(fds_.back(), name_.c_str(), O_DIRECTORY | O_RDONLY));
      path += "/" + name_;
      if (i > levels / 2) relative += (relative.empty() ? "" : "/") + name_;
      if (i == levels / 2) {
        symlink((base + path).c_str(), (base + "/l1").c_str());
        middle_ = fds_.back();
      }
    }
    symlinkat(relative.c_str(), middle_, "l2");
    shortcut = base + "/l1/l2";
    base_ = base;
    path = base + path;
  }
  ~DeepDirectory() {
    unlinkat(middle_, "l2", 0);
    unlink((base_ + "/l1").c_str());
    for (size_t i = fds_.size() - 1; i > 0; --i) {
      close(fds_[i]);
      unlinkat(fds_[i - 1], name_.c_str(), AT_REMOVEDIR);
    }
    close(fds_[0]);
  }
  std::string path;      // longer than any system call takes
  std::string shortcut;  // the same directory through the links

 private:
  std::string name_, base_;
  std::vector<int> fds_;
  int middle_ = -1;
};

TEST_F(HostileTest, WorkingDirectoryLongerThanAPathCanBe) {
  writeIni(Ini());
  installAgent(agent("1.0.0", {"23", "6"}));
  DeepDirectory deep(root, 26);
  ASSERT_GT(deep.path.size(), 5000u);
  cwd = deep.shortcut;
  Result r = run({"-wait"});
  expectSound(r);
  EXPECT_EQ(6, r.status) << r.err;
  EXPECT_EQ(2u, agentRuns().size());

  // Started by a relative name, it cannot form that path: the kernel's.
  r = runAs("./setup", {});
  expectSound(r);
  EXPECT_EQ(6, r.status) << r.err;
}

// ---------------------------------------------------------------------------
// A bare environment and a vanished working directory

TEST_F(HostileTest, MissingHomePathAndLang) {
  Ini ini;
  ini.isAdmin = "true";
  ini.locationKey = root + "/etc/agent.key";
  writeIni(ini);
  AgentInstall a = agent("1.0.0", {"23", "3"});
  a.locationFile = ini.locationKey;
  installAgent(a);
  std::vector<std::string> full = env;
  full.push_back("LANG=C");
  for (const char* unset : {"HOME", "PATH", "LANG", "HOME PATH LANG"}) {
    SCOPED_TRACE(unset);
    env = full;
    for (const char* name : {"HOME", "PATH", "LANG"}) {
      if (std::string(unset).find(name) != std::string::npos) unsetEnv(name);
    }
    clearRecords();
    Result r = run({"-wait"});
    expectSound(r);
    EXPECT_EQ(3, r.status) << r.err;
    ASSERT_EQ(2u, agentRuns().size());
    EXPECT_TRUE(env == agentRuns()[1].env);

    ini.version = "9.9";
    writeIni(ini);
    r = run({});
    expectSound(r);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(errorMessage(msgAgentNotFound("9.9")), r.err);
    ini.version = "1.0.0";
    writeIni(ini);
  }
}

TEST_F(HostileTest, DeletedWorkingDirectory) {
  Ini ini;
  ini.installerLocation = "installer/install";
  writeIni(ini);
  writeInstaller("installer/install", installsAgent("1.0.0", {"23", "4"}));
  std::string gone = "'" + root + "/gone'";
  Result r = runWrapped("mkdir " + gone + " && cd " + gone + " && rmdir " + gone +
                            " || exit 99",
                        "", {"-wait", "-log", logPath});
  expectSound(r);
  EXPECT_EQ(4, r.status) << r.err;
  EXPECT_EQ(1u, installerRuns().size());
  EXPECT_EQ(2u, agentRuns().size());
  EXPECT_NE(std::string::npos, readFile(logPath).find("\nrc: (0)\n"));
}

// ---------------------------------------------------------------------------
// Faults

// The process limit holds for a user other than root; one process, the
// launcher itself, is all that user may have.
struct ForkCase {
  const char* name;
  bool installer;  // no agent yet, an installer configured
  std::vector<std::string> args;
  int status;
  bool message;
  size_t agentRuns;
};
void PrintTo(const ForkCase& c, std::ostream* os) { *os << c.name; }

class NoNewProcessTest : public HostileTest,
                         public ::testing::WithParamInterface<ForkCase> {};

TEST_P(NoNewProcessTest, ReportsTheChildAsFailed) {
  const ForkCase& c = GetParam();
  Ini ini;
  if (c.installer) ini.installerLocation = "installer/install";
  writeIni(ini);
  if (c.installer) {
    writeInstaller("installer/install", installsAgent("1.0.0"));
  } else {
    installAgent(agent("1.0.0", {"8"}));
  }
  // The leak checker stops the world from a new thread, which the limit
  // forbids; it would spin for ever.
  const char* asan = std::getenv("ASAN_OPTIONS");
  setEnv("ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0");
  Result r = runAsOtherUser("prlimit --nproc=1:1 ", c.args);
  expectSound(r);
  EXPECT_EQ(c.status, r.status) << r.err;
  EXPECT_EQ(c.message ? errorMessage(msgInstallFailed(255)) : "", r.err);
  EXPECT_TRUE(installerRuns().empty());
  EXPECT_EQ(c.agentRuns, agentRuns().size());
}

INSTANTIATE_TEST_SUITE_P(
    Children, NoNewProcessTest,
    ::testing::Values(ForkCase{"Installer", true, {}, 255, true, 0},
                      ForkCase{"WaitedAgent", false, {"-wait"}, 255, false, 0},
                      ForkCase{"SilentAgent", false, {"-silent"}, 255, false, 0},
                      // Replacing itself needs no new process.
                      ForkCase{"AgentInPlace", false, {}, 8, false, 1}),
    [](const ::testing::TestParamInfo<ForkCase>& info) {
      return std::string(info.param.name);
    });

// A log that cannot be opened or written changes nothing but the log, and
// one line on stderr.
class UnwritableLogTest : public HostileTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(UnwritableLogTest, RunGoesOnUnchanged) {
  std::string log = expand(GetParam());
  Ini ini;
  ini.installerLocation = "installer/install";
  writeIni(ini);
  struct Scenario {
    const char* installer;  // installer's exit, "0" installs the agent
    int status;
  };
  for (const Scenario& s : {Scenario{"0", 6}, Scenario{"3", 3}}) {
    SCOPED_TRACE(s.installer);
    Plan plan = std::string(s.installer) == "0" ? installsAgent("1.0.0", {"6"})
                                                 : exitsWith({s.installer});
    writeInstaller("installer/install", plan);
    Result without, with;
    for (Result* r : {&without, &with}) {
      unlink((home + "/.quorvin/agent.key").c_str());
      clearRecords();
      *r = r == &with ? run({"-log", log}) : run();
      expectSound(*r);
      EXPECT_EQ(1u, installerRuns().size());
      EXPECT_EQ(s.status == 6 ? 1u : 0u, agentRuns().size());
    }
    EXPECT_EQ(s.status, with.status);
    EXPECT_EQ(without.status, with.status);
    // One line names the log and the reason; the rest is as without a log.
    std::string::size_type at = with.err.find("setup: ");
    ASSERT_NE(std::string::npos, at) << with.err;
    std::string line = with.err.substr(at, with.err.find('\n', at) + 1 - at);
    EXPECT_NE(std::string::npos, line.find(" the log to " + log + ": ")) << line;
    EXPECT_EQ(without.err, with.err.erase(at, line.size()));
    EXPECT_EQ(without.out, with.out);
  }
  EXPECT_FALSE(exists(root + "/missing"));
}

INSTANTIATE_TEST_SUITE_P(Paths, UnwritableLogTest,
                         ::testing::Values("{root}/missing/dir/launcher.log",
                                           "{root}", "/dev/full"));

}  // namespace
}  // namespace e2e
