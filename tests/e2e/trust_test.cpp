// What root trusts: another user (uid 65534) owns or may write a file, a
// link or a directory that root passes, and nothing of theirs may decide
// what runs or which file the log overwrites. The rules that depend on the
// user id run as that user too.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "harness.h"

namespace e2e {
namespace {

const uid_t kOther = 65534;

class TrustTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    installAgent(agent("1.0.0"));
    writeIni(Ini());
    // Room for the other user: every directory searchable, records writable.
    chmod(root.c_str(), 0755);
    chmod(recordDir.c_str(), 0777);
  }

  void own(const std::string& path, uid_t uid = kOther) {
    ASSERT_EQ(0, lchown(path.c_str(), uid, uid)) << path;
  }
  void link(const std::string& target, const std::string& path, uid_t uid = 0) {
    ASSERT_EQ(0, symlink(target.c_str(), path.c_str())) << path;
    own(path, uid);
  }
  // An INI file in `dir` that would run dir/pwn, recording to "planted".
  void plantIni(const std::string& dir, const std::string& name) {
    Ini ini;
    ini.version = "99.0";
    ini.installerLocation = "pwn";
    write(dir + "/" + name, ini.text());
    Plan plan = exitsWith({"0"});
    plan.record = recordPath("planted");
    writeStandinInstaller(dir + "/pwn", plan);
  }
  // An agent that records to "planted", recorded by `locationFile`.
  void plantAgent(const std::string& dir, const std::string& locationFile) {
    AgentInstall evil = agent("9.0");
    evil.dir = dir;
    evil.locationFile = locationFile;
    evil.agentRecord = recordPath("planted");
    installAgent(evil);
  }
  // pkg/setup with argv[0] `argv0`, as root or as the other user.
  Result start(const std::string& argv0, const std::vector<std::string>& args,
               bool asOther) {
    std::string script = root + "/start";
    write(script, "#!/bin/bash\nexec " +
                      std::string(asOther ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                      "bash -c 'exec -a \"$0\" \"$@\"' '" + argv0 + "' '" + launcherPath() +
                      "' \"$@\"\n");
    chmod(script.c_str(), 0755);
    for (const char* name : {"agent", "planted"}) chmod(recordPath(name).c_str(), 0666);
    executable = script;
    Result r = runAs(script, args);
    executable.clear();
    return r;
  }
  // Runs `program` as root, stopped (traced) right after the exec while
  // `meanwhile` runs, without /proc when `hideProc`; returns its status.
  int runStoppedAtExec(const std::string& program, const std::string& argv0, bool hideProc,
                       const std::function<void()>& meanwhile) {
    std::vector<std::string> args = {argv0, "-log", logPath};
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(&a[0]);
    for (std::string& e : env) envp.push_back(&e[0]);
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      if (hideProc && (unshare(CLONE_NEWNS) != 0 ||
                       mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                       mount("none", "/proc", "tmpfs", 0, nullptr) != 0)) {
        _exit(126);
      }
      int null = open("/dev/null", O_RDWR);
      if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0 ||
          chdir(workDir.c_str()) != 0 || ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
        _exit(126);
      }
      execve(program.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) {
      ADD_FAILURE() << "not stopped at exec: " << status;
      return -1;
    }
    meanwhile();
    ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void copyLauncher(const std::string& path) {
    ASSERT_EQ(0, system(("cp \"$LAUNCHER_UNDER_TEST\" '" + path + "'").c_str())) << path;
  }

  std::string refused(const std::string& log, const std::string& why) {
    return "setup: not writing the log to " + log + ": " + why + "\n";
  }
};

TEST_F(TrustTest, ArgvZeroOnlySpellsTheExecutedDirectory) {
  mkdirs(root + "/x");
  mkdirs(root + "/y");
  link(launcherPath(), root + "/x/setup", kOther);
  link(launcherPath(), root + "/y/setup");
  plantIni(root + "/x", "setup.ini");
  plantIni(root + "/y", "setup.ini");
  write(pkgDir + "/other", "");  // beside the launcher, but another file
  plantIni(pkgDir, "other.ini");
  link(launcherPath(), workDir + "/setup", kOther);  // found first for a bare name
  plantIni(workDir, "setup.ini");
  link(pkgDir, workDir + "/pkg");
  setEnv("PATH", pkgDir + ":/usr/bin:/bin");
  int runs = 0;
  for (bool asOther : {false, true}) {
    for (const char* argv0 : {"{root}/x/setup", "{root}/y/setup", "{pkg}/other", "setup",
                              "pkg/setup"}) {
      std::string name = argv0;
      if (name.compare(0, 6, "{root}") == 0) name = root + name.substr(6);
      if (name.compare(0, 5, "{pkg}") == 0) name = pkgDir + name.substr(5);
      SCOPED_TRACE(name + (asOther ? " as 65534" : " as root"));
      EXPECT_EQ(0, start(name, {}, asOther).status);
      EXPECT_EQ(static_cast<size_t>(++runs), agentRuns().size());
    }
  }
  EXPECT_TRUE(records("planted").empty());
}

TEST_F(TrustTest, HomeThatOthersControlIsNotRoots) {
  const std::string rootHome = getpwuid(0)->pw_dir;
  // Root's own home holds no agent: the installer runs, and fails.
  Ini ini;
  ini.installerLocation = "installer/install";
  writeIni(ini);
  writeInstaller("installer/install", exitsWith({"5"}));
  for (bool foreign : {true, false}) {
    std::string evil = root + (foreign ? "/theirs" : "/open");
    plantAgent(evil + "/agent", evil + "/.quorvin/agent.key");
    if (foreign) own(evil);
    else chmod(evil.c_str(), 0777);
    setEnv("HOME", evil);
    Result r = run({"-log", logPath});
    EXPECT_EQ(5, r.status);
    std::string why = evil + (foreign ? " is owned by uid 65534" : " is writable by others");
    EXPECT_NE(std::string::npos, readFile(logPath).find("Not trusted: " + evil + ": " + why +
                                                        "\nhomeDir: (" + rootHome + ")\n"));
    // Nor may the installer write under it.
    ASSERT_FALSE(installerRuns().empty());
    std::vector<std::string> env = installerRuns().back().env;
    EXPECT_NE(env.end(), std::find(env.begin(), env.end(), "HOME=" + rootHome));
    EXPECT_EQ(env.end(), std::find(env.begin(), env.end(), "HOME=" + evil));
  }
  EXPECT_TRUE(records("planted").empty());
}

TEST_F(TrustTest, AgentRecordsOthersMayWriteAreNotFound) {
  Ini ini;
  ini.isAdmin = "true";
  ini.locationKey = root + "/open/agent.loc";
  writeIni(ini);
  mkdirs(root + "/open");
  chmod((root + "/open").c_str(), 0777);
  plantAgent(root + "/evil", ini.locationKey);
  EXPECT_EQ(1, run({"-log", logPath}).status);
  EXPECT_NE(std::string::npos, readFile(logPath).find("Not trusted: " + ini.locationKey + ": " +
                                                      root + "/open is writable by others\n"));
  EXPECT_TRUE(records("planted").empty());

  // Root's group may write (umask 002), another user may not own.
  ini.locationKey = root + "/etc/agent.loc";
  writeIni(ini);
  AgentInstall real = agent("1.0.0");
  real.locationFile = ini.locationKey;
  installAgent(real);
  for (const std::string& path : {root + "/etc", ini.locationKey, agentDir, agentDir + "/bin",
                                  agentDir + "/bin/agent"}) {
    chmod(path.c_str(), 0775);
  }
  EXPECT_EQ(0, run().status);
  EXPECT_EQ(1u, agentRuns().size());
  own(agentDir + "/bin/agent");
  EXPECT_EQ(1, run({"-log", logPath}).status);
  EXPECT_EQ(1u, agentRuns().size());
  EXPECT_NE(std::string::npos, readFile(logPath).find(
                                   "Not trusted: " + agentDir + "/bin/agent: " + agentDir +
                                   "/bin/agent is owned by uid 65534\n"));
}

TEST_F(TrustTest, AnAclThatLetsAnotherUserWriteIsNotRoots) {
  auto setfacl = [](const std::string& option, const std::string& path) {
    ASSERT_EQ(0, system(("setfacl " + option + " '" + path + "'").c_str())) << path;
  };
  Ini ini;
  ini.isAdmin = "true";
  ini.locationKey = root + "/etc/agent.loc";
  writeIni(ini);
  AgentInstall real = agent("1.0.0");
  real.locationFile = ini.locationKey;
  installAgent(real);
  // Root's group named in an ACL is still root's: 0775 root:root as before.
  setfacl("-m g:0:rwx", agentDir + "/bin/agent");
  EXPECT_EQ(0, run().status);
  int runs = 1;
  for (const std::string& path : {agentDir + "/bin/agent", ini.locationKey, agentDir + "/bin"}) {
    setfacl("-m u:65534:rwx", path);
    EXPECT_EQ(1, run({"-log", logPath}).status) << path;
    EXPECT_NE(std::string::npos, readFile(logPath).find(": " + path +
                                                        " has an ACL that lets user 65534 write\n"));
    setfacl("-x u:65534", path);
    EXPECT_EQ(0, run().status) << path;
    EXPECT_EQ(static_cast<size_t>(++runs), agentRuns().size());
  }
  setfacl("-m u:65534:rwx", home);
  EXPECT_EQ(0, run({"-log", logPath}).status);
  EXPECT_NE(std::string::npos, readFile(logPath).find("Not trusted: " + home + ": " + home +
                                                      " has an ACL that lets user 65534 write\n"));
}

TEST_F(TrustTest, ThePackageDirectoryIsExemptButNotWhatLiesAboveIt) {
  // Unpacked by tar with the archive's user ids: directly in the package.
  Ini ini;
  ini.isAdmin = "true";
  ini.locationKey = pkgDir + "/agent.loc";
  writeIni(ini);
  AgentInstall real = agent("1.0.0");
  real.locationFile = ini.locationKey;
  installAgent(real);
  own(ini.locationKey);
  own(iniPath());
  EXPECT_EQ(0, run().status);
  EXPECT_EQ(1u, agentRuns().size());
  // Out of the package by "..", into a directory others may write.
  mkdirs(root + "/open");
  chmod((root + "/open").c_str(), 0777);
  ini.locationKey = pkgDir + "/../open/agent.loc";
  writeIni(ini);
  plantAgent(root + "/evil", root + "/open/agent.loc");
  EXPECT_EQ(1, run({"-log", logPath}).status);
  EXPECT_NE(std::string::npos, readFile(logPath).find("Not trusted: " + ini.locationKey + ": " +
                                                      pkgDir + "/../open is writable by others\n"));
  EXPECT_TRUE(records("planted").empty());
}

TEST_F(TrustTest, ADirectorySwappedAfterTheExecIsNotThePackage) {
  const std::string x = root + "/x";
  mkdirs(x);
  copyLauncher(x + "/setup");
  write(x + "/setup.ini", Ini().text());
  int status = runStoppedAtExec(x + "/setup", x + "/setup", false, [&] {
    // The running program is gone from its old place; its name leads to another.
    ASSERT_EQ(0, rename(x.c_str(), (root + "/old").c_str()));
    ASSERT_EQ(0, unlink((root + "/old/setup").c_str()));
    mkdirs(x);
    copyLauncher(x + "/setup");
    plantIni(x, "setup.ini");
  });
  EXPECT_NE(0, status);
  EXPECT_TRUE(records("planted").empty());
}

TEST_F(TrustTest, WithoutProcTheRunningProgramIsFoundByItsName) {
  const std::string x = root + "/x", y = root + "/y";
  mkdirs(x);
  copyLauncher(x + "/setup");
  write(x + "/setup.ini", Ini().text());
  write(agentDir + "/bin/agent", "#!/bin/sh\ntouch '" + root + "/started'\n");
  setEnv("PATH", y + ":/usr/bin:/bin");
  // Neither /proc nor the path the kernel executed can say which file runs.
  int status = runStoppedAtExec(x + "/setup", "setup", true,
                                [&] { ASSERT_EQ(0, rename(x.c_str(), y.c_str())); });
  EXPECT_EQ(0, status);
  EXPECT_TRUE(exists(root + "/started"));
}

TEST_F(TrustTest, LogNeverLandsInAFileOthersControl) {
  write(root + "/secret", "secret\n");
  chmod((root + "/secret").c_str(), 0600);
  const std::string theirs = workDir + "/theirs.log", fifo = workDir + "/fifo.log",
                    hard = workDir + "/hard.log", viaLink = workDir + "/run.log";
  write(theirs, "their content\n");
  chmod(theirs.c_str(), 0666);
  own(theirs);
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  ASSERT_EQ(0, ::link((root + "/secret").c_str(), hard.c_str()));
  mkdirs(root + "/x");
  own(root + "/x");
  link(root + "/x/target.log", viaLink);
  link(root + "/secret", root + "/x/target.log", kOther);
  mkdirs(root + "/rootonly");
  write(root + "/rootonly/victim", "secret\n");
  link(root + "/rootonly", root + "/dirlink", kOther);
  const std::pair<std::string, std::string> cases[] = {
      {theirs, theirs + " is owned by uid 65534"},
      {fifo, fifo + " is a FIFO without a reader"},
      {hard, hard + " has 2 links"},
      {viaLink, root + "/x/target.log is a link owned by uid 65534"},
      {root + "/dirlink/victim", root + "/dirlink is a link owned by uid 65534"},
  };
  for (const auto& c : cases) {
    Result r = run({"-log", c.first});
    EXPECT_EQ(0, r.status) << c.first;
    EXPECT_EQ(refused(c.first, c.second), r.err);
  }
  EXPECT_EQ("their content\n", readFile(theirs));
  EXPECT_EQ("secret\n", readFile(root + "/secret"));
  EXPECT_EQ("secret\n", readFile(root + "/rootonly/victim"));
  EXPECT_EQ(5u, agentRuns().size());
}

TEST_F(TrustTest, LogOnATerminalAndThroughTheUsersOwnLinks) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(0, grantpt(master));
  ASSERT_EQ(0, unlockpt(master));
  std::string pts = ptsname(master);
  int slave = open(pts.c_str(), O_RDWR | O_NOCTTY);  // keeps what was written readable
  EXPECT_EQ(0, run({"-log", pts}).status);
  std::string seen;
  char buffer[4096];
  struct pollfd p = {master, POLLIN, 0};
  while (poll(&p, 1, 100) > 0) {
    ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    seen.append(buffer, static_cast<size_t>(got));
  }
  close(slave);
  close(master);
  EXPECT_NE(std::string::npos, seen.find("isWait: (0)"));

  // As another user: root's link is followed, a third user's is not.
  const std::string logs = root + "/logs";
  mkdirs(logs);
  chmod(logs.c_str(), 0777);
  link(logs + "/target.log", logs + "/roots.log");
  link(logs + "/target.log", logs + "/thirds.log", kOther - 1);
  Result r = start(launcherPath(), {"-log", logs + "/thirds.log"}, true);
  EXPECT_EQ(refused(logs + "/thirds.log", logs + "/thirds.log is a link owned by uid 65533"),
            r.err);
  EXPECT_FALSE(exists(logs + "/target.log"));
  EXPECT_EQ("", start(launcherPath(), {"-log", logs + "/roots.log"}, true).err);
  EXPECT_NE(std::string::npos, readFile(logs + "/target.log").find("isWait: (0)"));
}

}  // namespace
}  // namespace e2e
