#include "harness.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace e2e {

namespace {

// Generous, so a sanitizer build on a busy machine does not time out; a
// launcher that hangs still ends the test.
const int kRunTimeoutSeconds = 60;

std::string launcherUnderTest() {
  const char* path = std::getenv("LAUNCHER_UNDER_TEST");
  return path ? path : "";
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

double now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

void section(std::string* out, const char* name) {
  *out += std::string("[") + name + "]\n";
}

void key(std::string* out, const char* name, const std::string& value) {
  if (!value.empty()) *out += std::string(name) + "=" + value + "\n";
}

}  // namespace

std::string Ini::text() const {
  std::string out;
  section(&out, "INSTALLER");
  key(&out, "LOCATION", installerLocation);
  for (const std::string& a : installerArgs) out += "ARG=" + a + "\n";
  key(&out, "LICENSEACCEPTED", licenseAccepted);
  section(&out, "MANAGER");
  key(&out, "LOCATION_KEY", locationKey);
  key(&out, "LOCATION_FILE", locationFile);
  key(&out, "VERSION", version);
  key(&out, "LAUNCHER", launcher);
  key(&out, "LAUNCHER_SILENT", launcherSilent);
  key(&out, "INPUT_FILE", inputFile);
  key(&out, "MODE", mode);
  for (const std::string& a : managerArgs) out += "ARG=" + a + "\n";
  section(&out, "COMMON");
  key(&out, "SILENT", silent);
  key(&out, "ISADMIN", isAdmin);
  key(&out, "APPDATALOCATION", appDataLocation);
  key(&out, "NL", nl);
  return out;
}

void E2eTest::SetUp() {
  std::string launcher = launcherUnderTest();
  ASSERT_FALSE(launcher.empty())
      << "LAUNCHER_UNDER_TEST must name the launcher binary to test";
  ASSERT_EQ(0, access(launcher.c_str(), X_OK))
      << "launcher under test " << launcher << ": " << std::strerror(errno);
  ASSERT_EQ(0, access(E2E_STANDIN_AGENT, X_OK)) << E2E_STANDIN_AGENT;
  ASSERT_EQ(0, access(E2E_STANDIN_INSTALLER, X_OK)) << E2E_STANDIN_INSTALLER;

  char tmpl[] = "/tmp/e2e-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl)) << std::strerror(errno);
  char real[PATH_MAX];
  ASSERT_NE(nullptr, realpath(tmpl, real)) << std::strerror(errno);
  root = real;
  pkgDir = root + "/pkg";
  home = root + "/home";
  workDir = root + "/work";
  binDir = root + "/bin";
  agentDir = root + "/agent";
  recordDir = root + "/records";
  logPath = root + "/launcher.log";
  for (const std::string& d : {pkgDir, home, workDir, binDir, recordDir}) {
    mkdirs(d);
  }
  cwd = workDir;
  env = {"PATH=" + binDir + ":/usr/bin:/bin", "HOME=" + home};
  // A sanitizer build must keep the options it was started with.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) setEnv(name, value);
  }
}

void E2eTest::TearDown() {
  if (root.empty()) return;
  if (std::getenv("E2E_KEEP")) {
    std::fprintf(stderr, "e2e: files kept in %s\n", root.c_str());
    return;
  }
  nftw(root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string E2eTest::launcherPath() const {
  return pkgDir + "/" + launcherName;
}

std::string E2eTest::iniPath() const {
  std::string name = launcherName;
  std::string::size_type dot = name.rfind('.');
  if (dot != std::string::npos && dot + 1 < name.size()) name.resize(dot);
  return pkgDir + "/" + name + ".ini";
}

void E2eTest::writeIni(const Ini& ini) { writeIni(ini.text()); }

void E2eTest::writeIni(const std::string& text) { write(iniPath(), text); }

AgentInstall E2eTest::agent(const std::string& version,
                            std::vector<std::string> outcomes) const {
  AgentInstall a;
  a.dir = agentDir;
  a.version = version;
  a.program = "bin/agent";
  a.source = E2E_STANDIN_AGENT;
  a.locationFile = home + "/.quorvin/agent.key";
  a.agentRecord = recordPath("agent");
  a.agentOutcomes = std::move(outcomes);
  return a;
}

void E2eTest::installAgent(AgentInstall install) {
  Plan p = installs(std::move(install));
  std::string err;
  ASSERT_TRUE(standin::installAgent(p.install, &err)) << err;
}

Plan E2eTest::exitsWith(std::vector<std::string> outcomes) const {
  Plan p;
  p.record = recordPath("installer");
  p.outcomes = std::move(outcomes);
  return p;
}

Plan E2eTest::installsAgent(const std::string& version,
                            std::vector<std::string> agentOutcomes) const {
  return installs(agent(version, std::move(agentOutcomes)));
}

Plan E2eTest::installs(AgentInstall a) const {
  AgentInstall d = agent(a.version);
  if (a.dir.empty()) a.dir = d.dir;
  if (a.program.empty()) a.program = d.program;
  if (a.source.empty()) a.source = d.source;
  if (a.locationFile.empty()) a.locationFile = d.locationFile;
  if (a.agentRecord.empty()) a.agentRecord = d.agentRecord;
  if (a.agentOutcomes.empty()) a.agentOutcomes = {"0"};
  Plan p = exitsWith({"0"});
  p.installs = true;
  p.install = a;
  return p;
}

void E2eTest::writeInstaller(const std::string& relPath, const Plan& plan) {
  writeStandinInstaller(pkgDir + "/" + relPath, plan);
}

void E2eTest::writeStandinInstaller(const std::string& path, const Plan& plan) {
  std::string err;
  Plan p = plan;
  if (p.record.empty()) p.record = recordPath("installer");
  ASSERT_TRUE(standin::copyFile(E2E_STANDIN_INSTALLER, path, 0755, &err)) << err;
  ASSERT_TRUE(standin::writePlan(path + ".plan", p, &err)) << err;
}

void E2eTest::writeStandinAgent(const std::string& path, const Plan& plan) {
  std::string err;
  Plan p = plan;
  if (p.record.empty()) p.record = recordPath("agent");
  ASSERT_TRUE(standin::copyFile(E2E_STANDIN_AGENT, path, 0755, &err)) << err;
  ASSERT_TRUE(standin::writePlan(path + ".plan", p, &err)) << err;
}

void E2eTest::setEnv(const std::string& name, const std::string& value) {
  for (std::string& e : env) {
    if (e.compare(0, name.size() + 1, name + "=") == 0) {
      e = name + "=" + value;
      return;
    }
  }
  env.push_back(name + "=" + value);
}

void E2eTest::unsetEnv(const std::string& name) {
  std::vector<std::string> kept;
  for (const std::string& e : env) {
    if (e.compare(0, name.size() + 1, name + "=") != 0) kept.push_back(e);
  }
  env = kept;
}

Result E2eTest::run(const std::vector<std::string>& args) {
  return runAs(launcherPath(), args);
}

Result E2eTest::runAs(const std::string& argv0,
                      const std::vector<std::string>& args) {
  Result result;
  std::string err;
  if (!exists(launcherPath()) &&
      !standin::copyFile(launcherUnderTest(), launcherPath(), 0755, &err)) {
    ADD_FAILURE() << err;
    return result;
  }

  // E2E_WRAPPER (absolute program path and its options, separated by
  // blanks) runs the launcher under a checker such as valgrind, which hands
  // the launcher the same argv[0] and keeps its pid across an exec.
  std::vector<std::string> argvText;
  std::string program = executable.empty() ? launcherPath() : executable;
  if (const char* wrapper = std::getenv("E2E_WRAPPER")) {
    std::istringstream words(wrapper);
    for (std::string word; words >> word;) argvText.push_back(word);
    if (!argvText.empty()) program = argvText[0];
  }
  argvText.push_back(argv0);
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argvPtr, envPtr;
  for (std::string& a : argvText) argvPtr.push_back(&a[0]);
  argvPtr.push_back(nullptr);
  std::vector<std::string> envText = env;
  for (std::string& e : envText) envPtr.push_back(&e[0]);
  envPtr.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return result;
  }
  pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return result;
  }
  if (pid == 0) {
    // Its own process group, so a time-out can end the launcher together
    // with whatever it started.
    setpgid(0, 0);
    for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull < 0 || dup2(devnull, 0) < 0 || dup2(outPipe[1], 1) < 0 ||
        dup2(errPipe[1], 2) < 0 || chdir(cwd.c_str()) != 0) {
      _exit(250);
    }
    execve(program.c_str(), argvPtr.data(), envPtr.data());
    _exit(251);
  }
  result.pid = pid;
  close(outPipe[1]);
  close(errPipe[1]);

  double deadline = now() + kRunTimeoutSeconds;
  struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int openCount = 2;
  while (openCount > 0) {
    int left = static_cast<int>((deadline - now()) * 1000);
    if (left <= 0) {
      result.timedOut = true;
      break;
    }
    int n = poll(fds, 2, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[65536];
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --openCount;
      }
    }
  }
  int status = 0;
  for (;;) {
    // A launcher past its time is killed before the blocking wait, never
    // after it.
    if (result.timedOut) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
    }
    pid_t got = waitpid(pid, &status, result.timedOut ? 0 : WNOHANG);
    if (got == pid) break;
    if (got < 0 && errno != EINTR) break;
    if (got == 0 && now() > deadline) result.timedOut = true;
    if (result.timedOut) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
    } else if (got == 0) {
      usleep(1000);
    }
  }
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd >= 0) close(fds[i].fd);
  }
  if (result.timedOut) {
    kill(-pid, SIGKILL);
    ADD_FAILURE() << "launcher did not end within " << kRunTimeoutSeconds
                  << " s; stderr so far:\n" << result.err;
  }
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.status = 128 + WTERMSIG(status);
  }
  return result;
}

std::string E2eTest::recordPath(const std::string& name) const {
  return recordDir + "/" + name;
}

std::vector<Record> E2eTest::records(const std::string& name) const {
  return standin::readRecords(recordPath(name));
}

std::vector<Record> E2eTest::installerRuns() const {
  return records("installer");
}

std::vector<Record> E2eTest::agentRuns() const { return records("agent"); }

void E2eTest::clearRecords() {
  for (const char* name : {"installer", "agent"}) {
    unlink(recordPath(name).c_str());
  }
}

std::string E2eTest::readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool E2eTest::exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void E2eTest::write(const std::string& path, const std::string& content) {
  std::string err;
  ASSERT_TRUE(standin::writeFile(path, content, &err)) << err;
}

void E2eTest::mkdirs(const std::string& dir) {
  std::string err;
  ASSERT_TRUE(standin::mkdirs(dir, &err)) << err;
}

std::string errorMessage(const std::string& text) {
  return "Error: " + text + "\n";
}

std::string msgAgentNotFound(const std::string& version) {
  return "Telvane Quorvin version " + version + " or later cannot be found.";
}

std::string msgAgentNotFoundExt(const std::string& version) {
  return "Telvane Quorvin version " + version +
         " or later cannot be found.  Check the product documentation for "
         "software prerequisites to ensure that your system meets the "
         "installation requirements.";
}

std::string msgInstallerNotFound(const std::string& path) {
  return "The installer for Telvane Quorvin cannot be found.  \n"
         "Installer Location=" + path;
}

std::string msgInstallFailed(int status) {
  return "The installer encountered an error when installing Telvane "
         "Quorvin.  Installation has discontinued. \nReturn Code=" +
         std::to_string(status);
}

bool hasVar(const std::vector<std::string>& env, const std::string& name) {
  for (const std::string& e : env) {
    if (e.compare(0, name.size() + 1, name + "=") == 0) return true;
  }
  return false;
}

std::string varValue(const std::vector<std::string>& env,
                     const std::string& name) {
  for (const std::string& e : env) {
    if (e.compare(0, name.size() + 1, name + "=") == 0) {
      return e.substr(name.size() + 1);
    }
  }
  return std::string();
}

}  // namespace e2e
