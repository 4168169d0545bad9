// launcher-check --trial from outside: real shell installers and agents, the
// demo package and a real Java runtime, each run in the throwaway copy; and
// after each, proof that the real machine kept nothing of it.
#include <dirent.h>
#include <ftw.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "harness.h"

namespace e2e {
namespace {

std::set<std::string> entries(const std::string& path) {
  std::set<std::string> names;
  DIR* dir = opendir(path.c_str());
  while (const struct dirent* entry = dir ? readdir(dir) : nullptr) names.insert(entry->d_name);
  if (dir) closedir(dir);
  return names;
}

// Processes whose command line holds `token`.
int processesWith(const std::string& token) {
  int count = 0;
  DIR* proc = opendir("/proc");
  while (const struct dirent* entry = proc ? readdir(proc) : nullptr) {
    std::ifstream file(std::string("/proc/") + entry->d_name + "/cmdline");
    std::stringstream text;
    text << file.rdbuf();
    if (text.str().find(token) != std::string::npos) ++count;
  }
  if (proc) closedir(proc);
  return count;
}

class TrialTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    // The trial's ordinary user must reach the package.
    chmod(root.c_str(), 0755);
    // Each test's scratch directories in a place of its own: trials may run
    // side by side.
    scratch = root + "/tmp";
    mkdirs(scratch);
    chmod(scratch.c_str(), 01777);
    setEnv("TMPDIR", scratch);
    token = "qv-trial-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
  }

  Result trial(std::vector<std::string> toolOptions, const std::string& wrapper = "") {
    const char* tool = std::getenv("CHECK_UNDER_TEST");
    if (!tool) {
      ADD_FAILURE() << "CHECK_UNDER_TEST must name the launcher-check binary";
      return Result();
    }
    std::string command = wrapper + tool;
    for (const std::string& option : toolOptions) command += " " + option;
    setenv("E2E_WRAPPER", command.c_str(), 1);
    Result r = runAs(launcherPath(), {});
    unsetenv("E2E_WRAPPER");
    expectMachineUnchanged(r.out);
    return r;
  }

  // What the trial says it created is not here, what it removed still is,
  // and its scratch directory is gone.
  void expectMachineUnchanged(const std::string& out) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      for (const char* change : {"    created  ", "    changed  ", "    removed  "}) {
        if (line.rfind(change, 0) != 0) continue;
        std::string path = line.substr(13, line.find("  ", 13) - 13);
        if (std::string(change).find("created") != std::string::npos) {
          EXPECT_FALSE(exists(path)) << path;
        } else if (std::string(change).find("removed") != std::string::npos) {
          EXPECT_TRUE(exists(path)) << path;
        }
      }
    }
    EXPECT_EQ((std::set<std::string>{".", ".."}), entries(scratch));
  }

  // A shell installer that keeps the contract, with `edit` applied to its
  // text; the agent program runs `agentBody`.
  void writeShellInstaller(const std::string& agentBody = "exit 0",
                           const std::string& version = "1.0.0",
                           const std::string& keyFile = "$HOME/.quorvin/agent.key",
                           bool writesPackages = true) {
    Ini ini;
    ini.installerLocation = "installer/install";
    ini.managerArgs = {token};
    writeIni(ini);
    std::string text =
        "#!/bin/sh\nset -e\ndir=$HOME/agent\n"
        "mkdir -p \"$dir/bin\" \"$dir/eclipse/configuration\" \"$HOME/data\" "
        "\"$(dirname \"" + keyFile + "\")\"\n"
        "printf '#!/bin/sh\\n%s\\n' '" + agentBody + "' > \"$dir/bin/agent\"\n"
        "chmod 755 \"$dir/bin/agent\"\n"
        "echo \"zel.appDataLocation=$HOME/data\" > \"$dir/eclipse/configuration/config.ini\"\n" +
        (writesPackages ? "echo \"<package id='com.telvane.quorvin.agent' version='" + version +
                              "'/>\" > \"$HOME/data/installed.xml\"\n"
                        : "") +
        "echo \"location=$dir\" > \"" + keyFile + "\"\n";
    writeScript("installer/install", text);
  }
  void writeScript(const std::string& relPath, const std::string& text) {
    writeScriptAt(pkgDir + "/" + relPath, text);
  }
  void writeScriptAt(const std::string& path, const std::string& text) {
    write(path, text);
    chmod(path.c_str(), 0755);
  }
  void copyDemo() {
    for (const char* file : {"setup.ini", "installer/install.sh", "agent/demo-agent"}) {
      std::ifstream in(std::string(CHECK_EXAMPLES_DIR) + "/" + file);
      std::stringstream text;
      text << in.rdbuf();
      writeScript(file, text.str());
    }
  }

  std::string scratch, token;
  static int serial;
};
int TrialTest::serial = 0;

// The line of item `code`, and the fix under it.
std::string itemLine(const std::string& out, const std::string& code) {
  for (const char* verdict : {"    ok    ", "    FAILS "}) {
    size_t at = out.find(verdict + code + ":");
    if (at == std::string::npos) continue;
    size_t end = out.find("\n    ", out.find('\n', at) + 1);
    return out.substr(at + 4, end - at - 4);
  }
  return "(no item " + code + ")";
}

TEST_F(TrialTest, TheDemoPackageWorksAsRootAndAsAnOrdinaryUser) {
  copyDemo();
  // The ordinary user is someone who can log in, or a new user with a home
  // of their own: nobody, with no home, would fail any per-user package.
  // Once as this machine is, once as one with only root and nobody.
  std::string onlySystem = root + "/only-system-accounts";
  write(root + "/passwd", "root:x:0:0:root:/root:/bin/bash\n"
                          "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n");
  write(onlySystem, "#!/bin/sh\nexec unshare -m sh -c 'mount --bind " + root +
                        "/passwd /etc/passwd && exec \"$@\"' sh \"$@\"\n");
  chmod(onlySystem.c_str(), 0755);
  for (const std::string& wrapper : {std::string(), onlySystem + " "}) {
    for (const char* dryRun : {"--matrix", "--trial --matrix"}) {
      Result r = trial({dryRun}, wrapper);
      EXPECT_EQ(0, r.status) << r.out << r.err;
      EXPECT_EQ(std::string::npos, r.out.find("error")) << r.out;
      EXPECT_EQ(std::string::npos, r.out.find("uid 65534")) << r.out;
    }
  }
  Result r = trial({"--trial", "--matrix"}, onlySystem + " ");
  EXPECT_NE(std::string::npos, r.out.find("3  a new user (uid 1000, assumed")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("  verdict             works                 works\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("/.quorvin-demo/location  ")) << r.out;
}

struct BrokenCase {
  const char* name;
  std::string agentBody, version, keyFile;
  bool writesPackages, crlf, privatePackage;
  const char* as;
  const char* item;
  const char* detail;
  const char* fix;
};
void PrintTo(const BrokenCase& c, std::ostream* os) { *os << c.name; }

class BrokenTest : public TrialTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenTest, MarksTheItemWithItsFix) {
  const BrokenCase& c = GetParam();
  writeShellInstaller(c.agentBody, c.version, c.keyFile, c.writesPackages);
  if (c.privatePackage) chmod(root.c_str(), 0700);
  if (c.crlf) {
    std::string text = readFile(pkgDir + "/installer/install"), crlf;
    for (char ch : text) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    writeScript("installer/install", crlf);
  }
  Result r = trial({"--trial", c.as});
  EXPECT_EQ(1, r.status) << r.out << r.err;
  std::string line = itemLine(r.out, c.item);
  EXPECT_EQ(0u, line.find(std::string("FAILS ") + c.item)) << line;
  EXPECT_NE(std::string::npos, line.find(c.detail)) << line;
  std::string fix = c.fix;
  if (fix.find("HOME") != std::string::npos) fix.replace(fix.find("HOME"), 4, home);
  EXPECT_NE(std::string::npos, line.find("fix: " + fix)) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Trial, BrokenTest,
    ::testing::Values(
        BrokenCase{"machine_location", "exit 0", "1.0.0", "/etc/quorvin/agent.key", true, false, false,
                   "--as-root", "location", "the installer wrote /etc/quorvin/agent.key instead",
                   "write the location into HOME/.quorvin/agent.key"},
        BrokenCase{"no_installed_xml", "exit 0", "1.0.0", "$HOME/.quorvin/agent.key", false,
                   false, false, "--as-user", "installed-packages", "installed.xml does not exist",
                   "write <package id='com.telvane.quorvin.agent' version='1.0.0'/>"},
        BrokenCase{"lower_version", "exit 0", "0.9.0", "$HOME/.quorvin/agent.key", true, false, false,
                   "--as-user", "installed-packages", "version 0.9.0, lower than the required 1.0.0",
                   "install an agent of version 1.0.0 or later"},
        BrokenCase{"crlf_installer", "exit 0", "1.0.0", "$HOME/.quorvin/agent.key", true, true, false,
                   "--as-user", "installer", "carriage return", "save "},
        BrokenCase{"agent_exits_3", "exit 3", "1.0.0", "$HOME/.quorvin/agent.key", true, false, false,
                   "--as-user", "agent-run", "exited with 3", "see its output"},
        BrokenCase{"private_package", "exit 0", "1.0.0", "$HOME/.quorvin/agent.key", true, false,
                   true, "--as-user", "ini-file", "cannot be read", ""}),
    [](const ::testing::TestParamInfo<BrokenCase>& info) { return std::string(info.param.name); });

// The dry run's verdict for a row is what the trial of that row shows: an
// error means the run fails, a warning that it works. The demo's installer
// writes the key wherever the launcher says, so only the INI decides.
TEST_F(TrialTest, TheDryRunPredictsEveryTrialOfTheCorpus) {
  const std::string head = "[INSTALLER]\nLOCATION=installer/install.sh\n[MANAGER]\n";
  const std::string tail = "VERSION=1.0.0\nLAUNCHER=demo-agent\n";
  const std::string perUser = head + "LOCATION_KEY=.acme/location\n" + tail;
  auto replaced = [](std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
  };
  auto crlf = [](std::string text) {
    for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
      text.insert(at, "\r");
    }
    return text;
  };
  const struct {
    const char* name;
    std::string ini;
  } corpus[] = {
      {"per user for everyone", perUser + "[COMMON]\nISADMIN=false\n"},
      {"machine-wide for root, per user for others",
       head + "LOCATION_KEY=/etc/acme/location\n" + tail},
      {"relative key, root in admin mode", perUser},
      {"admin mode for everyone", perUser + "[COMMON]\nISADMIN=true\n"},
      {"not a boolean", perUser + "[COMMON]\nISADMIN=maybe\n"},
      {"CR LF", crlf(perUser)},
      {"byte-order mark", "\xef\xbb\xbf" + perUser},
      {"misspelt header", replaced(perUser, "[MANAGER]", "[MANAGR]")},
      {"no headers", replaced(replaced(perUser, "[MANAGER]\n", ""), "[INSTALLER]\n", "")},
      {"no program", replaced(perUser, "LAUNCHER=demo-agent\n", "")},
      {"quoted installer", replaced(perUser, "=installer/install.sh", "=\"installer/install.sh\"")},
      {"blank after the program", replaced(perUser, "=demo-agent", "=demo-agent ")},
  };
  copyDemo();
  for (const auto& variant : corpus) {
    write(pkgDir + "/setup.ini", variant.ini);
    for (const char* who : {"--as-root", "--as-user"}) {
      Result dryRun = trial({who, "--clean"});
      Result real = trial({"--trial", who});
      EXPECT_EQ(dryRun.status, real.status)
          << variant.name << ", " << who << "\n" << dryRun.out << real.out;
    }
  }
}

TEST_F(TrialTest, AnAgentProgramAnotherUserOwnsFailsForRoot) {
  // As tar leaves an archive's owner: the launcher run by root refuses it.
  writeShellInstaller();
  writeScript("installer/install",
              readFile(pkgDir + "/installer/install") + "chown 65534 \"$dir/bin/agent\"\n");
  Result r = trial({"--trial", "--as-root"});
  EXPECT_EQ(1, r.status) << r.out << r.err;
  std::string line = itemLine(r.out, "program");
  EXPECT_EQ(0u, line.find("FAILS program")) << line;
  EXPECT_NE(std::string::npos, line.find("refuses it")) << line;
}

TEST_F(TrialTest, AnAgentThatStaysUpIsEndedWithEverythingItStarted) {
  writeShellInstaller("sleep 300 & while :; do sleep 1; done");
  Result r = trial({"--trial", "--agent-seconds", "1"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ(0u, itemLine(r.out, "agent-run").find("ok    agent-run: still running after 1 s"))
      << r.out;
  EXPECT_EQ(0, processesWith(token));
}

TEST_F(TrialTest, NothingTheInstallerDoesReachesTheRealMachine) {
  std::string victim = root + "/victim";
  write(victim, "stays");
  Ini ini;
  ini.installerLocation = "installer/install";
  writeIni(ini);
  writeScript("installer/install",
              "#!/bin/sh\n"
              "echo x > /etc/qv-trial-marker\necho x > /root/" + token + "\n"
              "echo x > /tmp/" + token + "\nrm -f " + victim + "\n"
              "setsid sh -c 'while :; do sleep 1; done' " + token + " &\n"
              "sh -c 'while :; do sleep 1; done' " + token + " &\n"
              "echo x >&7\necho x > /proc/1/root/tmp/" + token + "-proc\nexit 0\n");
  // The tool is started with a descriptor open on a file of this machine.
  std::string leak = root + "/leak";
  writeScriptAt(root + "/with-fd7", "#!/bin/sh\nexec 7>>" + leak + "\nexec \"$@\"\n");
  Result r = trial({"--trial", "--as-root"}, root + "/with-fd7 ");
  EXPECT_EQ(1, r.status) << r.out << r.err;
  EXPECT_NE(std::string::npos, r.out.find("created  /etc/qv-trial-marker  2 bytes")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("removed  " + victim)) << r.out;
  for (const std::string& path : {std::string("/etc/qv-trial-marker"), "/root/" + token,
                                   "/tmp/" + token, "/tmp/" + token + "-proc"}) {
    EXPECT_FALSE(exists(path)) << path;
  }
  EXPECT_EQ("stays", readFile(victim));
  EXPECT_EQ("", readFile(leak));
  EXPECT_EQ(0, processesWith(token));
}

TEST_F(TrialTest, AJavaAgentStartsFromADirectoryWithABlank) {
  Ini ini;
  ini.installerLocation = "installer/install";
  ini.launcher = "jre/bin/java";
  writeIni(ini);
  writeScript("startup.jar", readFile(TRIAL_JAVA_AGENT));
  writeScript("installer/install",
              "#!/bin/sh\nset -e\ndir=\"$HOME/quorvin agent\"\n"
              "mkdir -p \"$dir/jre/bin\" \"$dir/eclipse/configuration\" \"$HOME/data\" \"$HOME/.quorvin\"\n"
              "ln -s \"$(readlink -f /usr/bin/java)\" \"$dir/jre/bin/java\"\n"
              "cp \"$(dirname \"$0\")/../startup.jar\" \"$dir/eclipse/startup.jar\"\n"
              "echo \"zel.appDataLocation=$HOME/data\" > \"$dir/eclipse/configuration/config.ini\"\n"
              "echo \"<package id='com.telvane.quorvin.agent' version='1.0.0'/>\" > \"$HOME/data/installed.xml\"\n"
              "echo \"location=$dir\" > \"$HOME/.quorvin/agent.key\"\n");
  Result r = trial({"--trial", "--as-user=nobody", "--agent-seconds", "30"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ(0u, itemLine(r.out, "agent-run").find("ok    agent-run: exited with 0")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("argv[2] = \"/nonexistent/quorvin agent/eclipse/startup.jar\"\n"))
      << r.out;
  EXPECT_NE(std::string::npos, r.out.find("| java agent: started")) << r.out;
}

// A clean machine: the agent this machine has is out of the launcher's
// sight, and stays where it is.
TEST_F(TrialTest, AnAgentAlreadyInstalledIsHidden) {
  Ini ini;
  ini.installerLocation = "installer/install";
  ini.locationKey = "";
  ini.locationFile = "<CURRDIR>agent.ref";
  writeIni(ini);
  writeScript("installer/install", "#!/bin/sh\nexit 0\n");
  AgentInstall installed = agent("1.0.0");
  installed.locationFile = pkgDir + "/agent.ref";
  installAgent(installed);
  Result r = trial({"--trial", "--as-root"});
  EXPECT_EQ(1, r.status) << r.out << r.err;
  EXPECT_NE(std::string::npos, r.out.find("Removed first, for a clean machine: " + pkgDir +
                                          "/agent.ref\n")) << r.out;
  EXPECT_EQ(0u, itemLine(r.out, "location").find("FAILS location")) << r.out;
  EXPECT_TRUE(exists(pkgDir + "/agent.ref"));
}

// The home directory is empty in the trial, all but the package in it.
TEST_F(TrialTest, APackageInTheHomeDirectoryStaysReachable) {
  std::string mine = "/root/" + token;
  pkgDir = mine + "/pkg";
  mkdirs(pkgDir);
  writeShellInstaller();
  Result r = trial({"--trial", "--as-root"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ(std::string::npos, r.out.find("created  " + mine)) << r.out;
  nftw(mine.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); },
       16, FTW_DEPTH | FTW_PHYS);
}

// Without root the trial runs in a user namespace, as the caller only.
TEST_F(TrialTest, AnOrdinaryCallerGetsAUserNamespaceAndNoRoot) {
  writeShellInstaller();
  std::string err;
  std::string tool = root + "/launcher-check";
  std::string given = std::getenv("CHECK_UNDER_TEST");
  ASSERT_TRUE(standin::copyFile(given, tool, 0755, &err)) << err;
  setenv("CHECK_UNDER_TEST", tool.c_str(), 1);
  const std::string nobody = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ";
  Result r = trial({"--trial"}, nobody);
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_NE(std::string::npos, r.out.find("created  " + home + "/.quorvin/agent.key")) << r.out;
  r = trial({"--trial", "--as-root"}, nobody);
  EXPECT_EQ(2, r.status) << r.out << r.err;
  EXPECT_NE(std::string::npos, r.out.find("Cannot run: a trial as root needs root")) << r.out;
  setenv("CHECK_UNDER_TEST", given.c_str(), 1);
}


// The copy as a container: what an installer run as root tries, one attack
// each, and what the real machine kept of it.
class ContainedTest : public TrialTest {
 protected:
  Result trialOf(const std::string& installerBody, std::vector<std::string> options) {
    Ini ini;
    ini.installerLocation = "installer/install";
    writeIni(ini);
    writeScript("installer/install", "#!/bin/sh\n" + installerBody);
    options.insert(options.begin(), {"--trial", "--as-root"});
    return trial(options);
  }
};

TEST_F(ContainedTest, KernelSettingsUnderProcAreReadOnly) {
  const std::string setting = "/proc/irq/default_smp_affinity";
  std::string before = readFile(setting);
  Result r = trialOf("echo 1 > " + setting + " && echo written\nexit 0\n", {});
  std::string after = readFile(setting);
  if (after != before) write(setting, before);
  EXPECT_EQ(before, after);
  EXPECT_EQ(std::string::npos, r.out.find("| written")) << r.out;
}

TEST_F(ContainedTest, AKeyringCallIsRefusedAndNamed) {
  // add_key("user", token, "x", 1, the user keyring) on x86-64.
  Result r = trialOf("perl -e 'my @key = (\"user\", \"" + token + "\", \"x\"); print syscall(248, "
                     "@key, 1, -4) < 0 ? \"refused: $!\\n\" : \"added\\n\"'\n",
                     {});
  EXPECT_NE(std::string::npos, r.out.find("| refused: Operation not permitted")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("System calls the copy refused (EPERM), as a "
                                          "container does: add_key\n")) << r.out;
  EXPECT_EQ(std::string::npos, readFile("/proc/keys").find(token));
}

TEST_F(ContainedTest, AnAbstractSocketOfTheMachineIsOutOfReachUnlessNetworkIsShared) {
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path + 1, token.data(), token.size());
  socklen_t size =
      static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + 1 + token.size());
  ASSERT_EQ(0, bind(listener, reinterpret_cast<struct sockaddr*>(&address), size));
  ASSERT_EQ(0, listen(listener, 8));
  const std::string connect =
      "perl -MSocket -e 'socket(my $s, PF_UNIX, SOCK_STREAM, 0) or die; print connect($s, "
      "pack_sockaddr_un(\"\\0" + token + "\")) ? \"reached\\n\" : \"unreachable\\n\"'\n";
  Result r = trialOf(connect, {});
  EXPECT_NE(std::string::npos, r.out.find("| unreachable\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("  Network: none but loopback")) << r.out;
  r = trialOf(connect, {"--network"});
  EXPECT_NE(std::string::npos, r.out.find("| reached\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("  Network: this machine's (--network)")) << r.out;
  close(listener);
}

TEST_F(ContainedTest, WritesToRunAndDevShmAreInTheFootprint) {
  Result r = trialOf("echo x > /run/" + token + "\necho x > /dev/shm/" + token + "\n", {});
  for (const std::string& path : {"/run/" + token, "/dev/shm/" + token}) {
    EXPECT_NE(std::string::npos, r.out.find("created  " + path + "  2 bytes")) << r.out;
    EXPECT_FALSE(exists(path)) << path;
  }
}

TEST_F(ContainedTest, AnInstallerThatFillsItsRoomFailsForThatReason) {
  Result r = trialOf("dd if=/dev/zero of=/tmp/" + token + " bs=1M count=16 2>/dev/null\n",
                     {"--scratch-size", "4M"});
  EXPECT_EQ(1, r.status) << r.out << r.err;
  std::string line = itemLine(r.out, "installer");
  EXPECT_EQ(0u, line.find("FAILS installer")) << line;
  EXPECT_NE(std::string::npos, line.find("no space left on device (ENOSPC) in /")) << line;
  EXPECT_NE(std::string::npos, line.find("fix: give the trial more room (--scratch-size SIZE)"))
      << line;
}

// --- An upgrade: the last release installed first, in the same copy --------

struct UpgradeCase {
  const char* name;
  const char* required;  // by the new package
  const char* installs;  // the version its installer writes
  const char* as;
  int status;
  std::vector<std::string> shown;
};
void PrintTo(const UpgradeCase& c, std::ostream* os) { *os << c.name; }

class UpgradeTest : public TrialTest, public ::testing::WithParamInterface<UpgradeCase> {
 protected:
  // A release in `dir`: its launcher, an INI file requiring `required`, and
  // a shell installer that writes version `installs`.
  void writeRelease(const std::string& dir, const std::string& required,
                    const std::string& installs) {
    pkgDir = dir;
    mkdirs(dir);
    writeShellInstaller("exit 0", installs);
    Ini ini;
    ini.installerLocation = "installer/install";
    ini.managerArgs = {token};
    ini.version = required;
    writeIni(ini);
    std::string err;
    ASSERT_TRUE(standin::copyFile(std::getenv("LAUNCHER_UNDER_TEST"), dir + "/setup", 0755, &err))
        << err;
  }
};

TEST_P(UpgradeTest, JudgesTheNewReleaseOverTheOld) {
  const UpgradeCase& c = GetParam();
  std::string newDir = pkgDir;
  writeRelease(root + "/old", "1.0.0", "1.0.0");
  writeRelease(newDir, c.required, c.installs);
  Result r = trial({"--trial", c.as, "--upgrade-from", root + "/old/setup"});
  EXPECT_EQ(c.status, r.status) << r.out << r.err;
  for (std::string text : c.shown) {
    if (text.find("HOME") != std::string::npos) text.replace(text.find("HOME"), 4, home);
    EXPECT_NE(std::string::npos, r.out.find(text)) << text << "\n" << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Trial, UpgradeTest,
    ::testing::Values(
        UpgradeCase{"upgrades", "2.0.0", "2.0.0", "--matrix", 0,
                    {"found: version 1.0.0 at ", "/agent: not sufficient\n",
                     "  The new installer ran\n", "version 2.0.0, at least the required 2.0.0",
                     "  verdict             works                 works\n"}},
        UpgradeCase{"leaves_the_old_version", "2.0.0", "1.0.0", "--as-user", 1,
                    {"  The new installer ran\n",
                     "lower than the required 2.0.0; the new installer left the old version in place"}},
        UpgradeCase{"old_release_suffices", "1.0.0", "3.0.0", "--as-root", 0,
                    {"found: version 1.0.0 at HOME/agent: sufficient\n",
                     "  The new installer did not run\n",
                     "ok    installer: not run: the installed agent, version 1.0.0, already suffices"}}),
    [](const ::testing::TestParamInfo<UpgradeCase>& info) { return std::string(info.param.name); });

// --- Another system: a tiny root made of a static busybox ------------------

class SystemTest : public TrialTest {
 protected:
  // busybox and its commands, and the loader and C library the launcher
  // under test needs, copied from this machine: the launcher starts there.
  void buildTree() {
    tree = root + "/tree";
    for (const char* dir : {"/bin", "/etc", "/tmp", "/root", "/usr"}) mkdirs(tree + dir);
    std::string err;
    ASSERT_TRUE(standin::copyFile("/bin/busybox", tree + "/bin/busybox", 0755, &err)) << err;
    ASSERT_EQ(0, symlink("../bin", (tree + "/usr/bin").c_str()));
    for (const std::string& command : lines("/bin/busybox --list")) {
      if (command == "busybox") continue;
      ASSERT_EQ(0, symlink("busybox", (tree + "/bin/" + command).c_str())) << command;
    }
    for (const std::string& line : lines("ldd " + std::string(std::getenv("LAUNCHER_UNDER_TEST")))) {
      size_t at = line.find('/');
      if (at == std::string::npos) continue;
      std::string path = line.substr(at, line.find(' ', at) - at);
      // The loader is the line without "=>".
      if (line.find("=>") == std::string::npos) loader = path;
      libraries.push_back(path);
    }
    ASSERT_FALSE(loader.empty()) << "ldd names no loader";
    for (const std::string& library : libraries) {
      mkdirs(library.substr(0, library.rfind('/')).insert(0, tree));
      ASSERT_TRUE(standin::copyFile(library, tree + library, 0755, &err)) << err;
    }
    write(tree + "/etc/passwd", "root:x:0:0:root:/root:/bin/sh\n");
  }

  std::vector<std::string> lines(const std::string& command) {
    std::vector<std::string> found;
    FILE* pipe = popen(command.c_str(), "r");
    char line[4096];
    while (pipe && fgets(line, sizeof line, pipe)) {
      found.emplace_back(line);
      found.back().erase(found.back().find_last_not_of("\n\t ") + 1);
    }
    EXPECT_TRUE(pipe && pclose(pipe) == 0) << command;
    return found;
  }

  // Every path in the tree with its size and time of change.
  std::set<std::string> snapshot() {
    snapshotOf = new std::set<std::string>();
    nftw(tree.c_str(), [](const char* path, const struct stat* st, int, struct FTW*) {
      snapshotOf->insert(std::string(path) + " " + std::to_string(st->st_size) + " " +
                         std::to_string(st->st_ctim.tv_sec) + "." + std::to_string(st->st_ctim.tv_nsec));
      return 0;
    }, 16, FTW_PHYS);
    std::set<std::string> found = *snapshotOf;
    delete snapshotOf;
    return found;
  }

  std::string tree;
  std::vector<std::string> libraries;  // the loader among them
  std::string loader;
  static std::set<std::string>* snapshotOf;
};
std::set<std::string>* SystemTest::snapshotOf = nullptr;

TEST_F(SystemTest, AShellAgentWorksAndAPythonAgentFailsNamingPython) {
  ASSERT_NO_FATAL_FAILURE(buildTree());
  std::set<std::string> before = snapshot();
  writeShellInstaller();
  Result r = trial({"--trial", "--matrix", "--system", tree});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_NE(std::string::npos, r.out.find("Trial as root (uid 0) on a throwaway copy of " + tree))
      << r.out;
  EXPECT_NE(std::string::npos, r.out.find("  launcher            ok                    ok\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("  verdict             works                 works\n")) << r.out;

  writeScript("installer/install", readFile(pkgDir + "/installer/install") +
                                       "echo '#!/usr/bin/python3' > \"$dir/bin/agent\"\n");
  r = trial({"--trial", "--as-user", "--system", tree});
  EXPECT_EQ(1, r.status) << r.out << r.err;
  std::string line = itemLine(r.out, "program");
  EXPECT_EQ(0u, line.find("FAILS program")) << line;
  EXPECT_NE(std::string::npos, line.find("interpreter \"/usr/bin/python3\" not found")) << line;
  EXPECT_EQ(before, snapshot());
}

// What the tree lacks fails the item that needs it: the launcher's loader,
// and a command the installer calls.
TEST_F(SystemTest, WhatTheTreeLacksIsNamed) {
  ASSERT_NO_FATAL_FAILURE(buildTree());
  writeShellInstaller();
  writeScript("installer/install", "#!/bin/sh\ncurl -o agent.tgz https://example.invalid/\n");
  ASSERT_EQ(0, unlink((tree + loader).c_str()));
  Result r = trial({"--trial", "--as-root", "--system", tree});
  EXPECT_EQ(1, r.status) << r.out << r.err;
  std::string launcher = itemLine(r.out, "launcher");
  EXPECT_EQ(0u, launcher.find("FAILS launcher")) << launcher;
  EXPECT_NE(std::string::npos, launcher.find("ELF interpreter /lib")) << launcher;
  std::string installer = itemLine(r.out, "installer");
  EXPECT_NE(std::string::npos, installer.find("exit status 127: the installer could not find the command curl"))
      << installer;
}

}  // namespace
}  // namespace e2e
