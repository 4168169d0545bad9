#include "utilitiesLinux.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <strings.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "keyList.h"
#include "stringtable.h"
#include "trust.h"
#include "utilities.h"

extern char** environ;

namespace {

const char kMachineDataDir[] = "/etc";
const int kStartFailure = 255;

std::vector<char*> toArgv(const std::vector<std::string>& strings) {
  std::vector<char*> result;
  result.reserve(strings.size() + 1);
  for (const std::string& s : strings) result.push_back(const_cast<char*>(s.c_str()));
  result.push_back(nullptr);
  return result;
}

// The path the kernel executed, as it was given; empty when unknown.
std::string executedPath() {
  // The kernel hands the path over as an address in the auxiliary vector.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  const char* executed = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  return executed ? std::string(executed) : std::string();
}

// While a child runs, the terminal's SIGINT and SIGQUIT reach it directly,
// so the launcher ignores them; SIGTERM and SIGHUP reach only the launcher,
// which passes them on so the child is never left running orphaned.
// Whatever the launcher inherited is what children get.
const int kWaitSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
const int kWaitSignalCount = sizeof kWaitSignals / sizeof kWaitSignals[0];
struct sigaction inheritedActions[kWaitSignalCount];
bool inheritedKnown = false;
volatile sig_atomic_t waitedChild = 0;
// The waited child's process group when it leads one of its own; 0 when it
// shares the launcher's.
volatile sig_atomic_t waitedGroup = 0;
volatile sig_atomic_t signalPassedOn = 0;

void noteInheritedActions() {
  if (inheritedKnown) return;
  for (int i = 0; i < kWaitSignalCount; ++i) {
    sigaction(kWaitSignals[i], nullptr, &inheritedActions[i]);
  }
  inheritedKnown = true;
}

bool isInheritedIgnored(int i) {
  return inheritedActions[i].sa_handler == SIG_IGN;
}

bool isPassedOn(int sig) { return sig == SIGTERM || sig == SIGHUP; }

void passOn(int sig) {
  int saved = errno;
  pid_t child = static_cast<pid_t>(waitedChild);
  if (child > 0) {
    // Everything the child started hears it too: an installer's download or
    // helper must not run on orphaned.
    pid_t target = waitedGroup > 0 ? -static_cast<pid_t>(waitedGroup) : child;
    kill(target, sig);
    // A stopped child would not hear it until someone continues it.
    kill(target, SIGCONT);
    signalPassedOn = 1;
  }
  errno = saved;
}

void setWaitingActions() {
  for (int i = 0; i < kWaitSignalCount; ++i) {
    // nohup's ignored SIGHUP stays ignored, for the child as well.
    if (isInheritedIgnored(i)) continue;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    action.sa_handler = isPassedOn(kWaitSignals[i]) ? passOn : SIG_IGN;
    sigaction(kWaitSignals[i], &action, nullptr);
  }
}

void restoreInheritedActions() {
  for (int i = 0; i < kWaitSignalCount; ++i) {
    sigaction(kWaitSignals[i], &inheritedActions[i], nullptr);
  }
}

// Signals that came while every signal was blocked, after the child had
// ended: the ignored ones are dropped, a passed-on one counts as passed on,
// as it would have a moment earlier. Restoring the inherited actions must
// not turn them into the launcher's own death.
void drainPendingSignals(const sigset_t& inheritedMask) {
  sigset_t pending, set;
  sigpending(&pending);
  sigemptyset(&set);
  for (int i = 0; i < kWaitSignalCount; ++i) {
    int sig = kWaitSignals[i];
    if (!isInheritedIgnored(i) && sigismember(&inheritedMask, sig) == 0 &&
        sigismember(&pending, sig) == 1) {
      sigaddset(&set, sig);
    }
  }
  const struct timespec now = {0, 0};
  int sig;
  while ((sig = sigtimedwait(&set, nullptr, &now)) > 0) {
    if (isPassedOn(sig)) signalPassedOn = 1;
  }
}

// Whether the child gets a process group of its own, so that a signal passed
// on reaches whatever it starts. Not while the launcher is in the foreground
// of its terminal: a child outside the terminal's foreground group would be
// stopped the moment it reads or sets the terminal (an interactive
// installer), and job control (Ctrl-Z, fg) would no longer reach it. There
// the terminal's own signals already reach every process of the group.
bool isChildGroupOwn() {
  // openat and getpgid(0), which the launcher imports already, rather than
  // open and getpgrp: each import costs every run its binding at start.
  int tty = openat(AT_FDCWD, "/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (tty < 0) return true;
  pid_t foreground = tcgetpgrp(tty);
  close(tty);
  return foreground != getpgid(0);
}

// In the child after fork: it is to learn when the launcher dies, even by
// SIGKILL, and not run on unsupervised. False when the launcher has died
// already, before the child could ask.
bool followLauncher(pid_t launcher) {
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) return true;
  return getppid() == launcher;
}

// The errno of the child's failed exec, read from the pipe it reports on;
// 0 when the exec succeeded (which closes the pipe) or nothing came.
int readStartReport(int fd) {
  if (fd < 0) return 0;
  int error = 0;
  ssize_t got;
  // Signals that come meanwhile are passed on by their handler.
  while ((got = read(fd, &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(fd);
  return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

// Forks, runs `path` and waits. `envp` null keeps the launcher's environment.
int runChild(const std::string& path, const std::vector<std::string>& argv,
             char** envp, int* execErrno) {
  std::vector<char*> args = toArgv(argv);
  if (execErrno) *execErrno = 0;
  noteInheritedActions();
  // A child that cannot start its program ends with 255, as a program may
  // itself: the child says so through this pipe, which a successful exec
  // closes. Without a pipe only the status tells.
  int report[2] = {-1, -1};
  if (pipe2(report, O_CLOEXEC) != 0) report[0] = report[1] = -1;
  // Whatever the launcher buffered (the diagnostic log) is written now, once;
  // the child never flushes its inherited copies.
  fflush(nullptr);
  bool ownGroup = isChildGroupOwn();
  pid_t launcher = getpid();
  // No signal may run a handler in the child before it has the inherited
  // actions back, nor in the launcher before it knows the child's pid.
  sigset_t all, inheritedMask;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &inheritedMask);
  setWaitingActions();
  pid_t pid = fork();
  if (pid == 0) {
    if (ownGroup) setpgid(0, 0);
    if (!followLauncher(launcher)) _exit(kStartFailure);
    restoreInheritedActions();
    sigprocmask(SIG_SETMASK, &inheritedMask, nullptr);
    execve(path.c_str(), args.data(), envp ? envp : environ);
    int error = errno;
    if (report[1] >= 0 && write(report[1], &error, sizeof error) < 0) {
      // Nothing more can be said than the status.
    }
    _exit(kStartFailure);
  }
  if (report[1] >= 0) close(report[1]);
  if (pid < 0) {
    if (report[0] >= 0) close(report[0]);
    restoreInheritedActions();
    sigprocmask(SIG_SETMASK, &inheritedMask, nullptr);
    return kStartFailure;
  }
  // Both sides set the group, so that it exists before either goes on: the
  // launcher's call fails harmlessly once the child has done it and exec'd.
  // Without a group of its own, the child alone hears what is passed on.
  if (ownGroup && setpgid(pid, pid) != 0 && getpgid(pid) != pid) ownGroup = false;
  waitedGroup = ownGroup ? pid : 0;
  waitedChild = pid;
  sigprocmask(SIG_SETMASK, &inheritedMask, nullptr);
  int error = readStartReport(report[0]);
  if (execErrno) *execErrno = error;
  // Waiting without reaping keeps the pid the child's until the handler can
  // no longer send to it.
  siginfo_t info;
  int waited;
  while ((waited = waitid(P_PID, static_cast<id_t>(pid), &info,
                          WEXITED | WNOWAIT)) < 0 &&
         errno == EINTR) {
  }
  sigprocmask(SIG_SETMASK, &all, nullptr);
  waitedChild = 0;
  waitedGroup = 0;
  int reaped;
  while ((reaped = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED)) < 0 &&
         errno == EINTR) {
  }
  drainPendingSignals(inheritedMask);
  restoreInheritedActions();
  sigprocmask(SIG_SETMASK, &inheritedMask, nullptr);
  if (waited < 0 || reaped < 0) return kStartFailure;
  if (info.si_code == CLD_EXITED) return info.si_status & 0xff;
  // As shells report it: a killed child is a failure, never a success.
  if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED) return 128 + info.si_status;
  return kStartFailure;
}

// The running program's identity, taken once: /proc/self/exe, opened
// without reading permission; else the file the kernel executed. Null when
// neither is available.
const struct stat* runningProgramId() {
  static struct stat id;
  static const bool known = [] {
    int fd = openat(AT_FDCWD, "/proc/self/exe", O_PATH | O_CLOEXEC);
    if (fd >= 0) {
      bool ok = fstat(fd, &id) == 0;
      close(fd);
      if (ok) return true;
    }
    std::string executed = executedPath();
    return !executed.empty() && fstatat(AT_FDCWD, executed.c_str(), &id, 0) == 0;
  }();
  return known ? &id : nullptr;
}

// The directory that `path` lies in, opened as a handle; -1 on failure.
int openDirectoryOf(const std::string& path) {
  std::string dir = dirName(path);
  return openat(AT_FDCWD, dir.empty() ? "." : dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// 1 when `name` in the directory `dirFd` is the running program.
bool namesProgram(int dirFd, const std::string& name, const struct stat& program) {
  struct stat st;
  return !name.empty() && fstatat(dirFd, name.c_str(), &st, 0) == 0 &&
         isSameFile(st, program);
}

struct SpellingRule {
  struct stat packageDir;
  struct stat program;
};

// A spelling of the launcher's path counts only when its directory is the
// package directory and the name there is the running program: a link or
// a file of the same name elsewhere would choose another INI file.
bool isPackageSpelling(const std::string& candidate, void* context) {
  const SpellingRule* rule = static_cast<const SpellingRule*>(context);
  int dirFd = openDirectoryOf(candidate);
  if (dirFd < 0) return false;
  struct stat dir;
  bool counts = fstat(dirFd, &dir) == 0 && isSameFile(dir, rule->packageDir) &&
                namesProgram(dirFd, baseName(candidate), rule->program);
  close(dirFd);
  return counts;
}

bool isRunningSpelling(const std::string& candidate, void*) {
  return isRunningProgram(candidate) == 1;
}

std::string findSpelling(const std::string& argv0, const CommandFilter& filter) {
  std::string found = findCommand(argv0, filter);
  if (found.empty()) found = findCommand(argv0 + ".exe", filter);
  return found;
}

// Why HOME does not count as root's home directory; empty when it counts.
std::string homeRefusal(const char* home) {
  if (!isTrustEnforced()) return std::string();
  std::string why;
  int fd = openTrusted(AT_FDCWD, home, O_PATH | O_DIRECTORY, &why);
  if (fd >= 0) {
    close(fd);
    return std::string();
  }
  if (why.empty()) why = std::string(home) + " cannot be opened: " + strerror(errno);
  return why;
}

std::string keyFilePath(const std::string& keyName, int keyType, bool* ok) {
  *ok = true;
  if (keyType == KEY_TYPE_MACHINE) return keyName;
  if (keyType == KEY_TYPE_USER) {
    std::string home;
    if (getHomeDir(&home) != 0) {
      *ok = false;
      return std::string();
    }
    return home + "/" + keyName;
  }
  fprintf(stdout, "Invalid Key Type\n");
  *ok = false;
  return std::string();
}

}  // namespace

void getString(int key, std::string* dst) {
  const char* text = getStringFromStringTable(key);
  dst->assign(text ? text : "");
}

int getHomeDir(std::string* dst) {
  const char* home = getenv("HOME");
  if (home && *home && homeRefusal(home).empty()) {
    dst->assign(home);
    return 0;
  }
  // Root's own entry for root: HOME may be a user's, kept by sudo -E.
  struct passwd* entry = getpwuid(
      isTrustEnforced() ? effectiveUserId() : static_cast<uid_t>(platformUserId()));
  if (entry && entry->pw_dir && *entry->pw_dir) {
    dst->assign(entry->pw_dir);
    return 0;
  }
  dst->clear();
  return -1;
}

int isHomeRefused(std::string* home, std::string* why) {
  const char* value = getenv("HOME");
  if (!value || !*value) return 0;
  *why = homeRefusal(value);
  if (why->empty()) return 0;
  home->assign(value);
  return 1;
}

int getMyDocumentDir(std::string* dst) { return getHomeDir(dst); }

int getProfileDir(std::string* dst) { return getHomeDir(dst); }

int getAppDataDir(std::string* dst, int machineWide) {
  if (machineWide) {
    dst->assign(kMachineDataDir);
    return 0;
  }
  return getHomeDir(dst);
}

int isAdmin() { return platformUserId() == 0 ? 1 : 0; }

long platformUserId() {
  long assumed = assumedUserId();
  return assumed >= 0 ? assumed : static_cast<long>(getuid());
}

int getRegKeyPath(const std::string& keyName, int keyType, std::string* path) {
  bool ok;
  *path = keyFilePath(keyName, keyType, &ok);
  return ok ? 0 : -1;
}

int getRegValue(const std::string& keyName, int keyType, const std::string& key,
                std::string* dst) {
  bool ok;
  std::string path = keyFilePath(keyName, keyType, &ok);
  if (!ok) return -1;
  return getProperty(path, key, dst);
}

int setRegValue(const std::string& keyName, int keyType, const std::string& key,
                const std::string& value) {
  bool ok;
  std::string path = keyFilePath(keyName, keyType, &ok);
  if (!ok) return -1;
  return storeProperty(path, key, value, "Error adding the registry key",
                       "Error saving registry Key\n");
}

int runProgram(const std::string& path, const std::vector<std::string>& argv,
               int* execErrno) {
  return runChild(path, argv, nullptr, execErrno);
}

int replaceProgram(const std::string& path,
                   const std::vector<std::string>& argv, int* execErrno) {
  std::vector<char*> args = toArgv(argv);
  // Nothing the launcher buffered may be lost with its process image.
  fflush(nullptr);
  execve(path.c_str(), args.data(), environ);
  if (execErrno) *execErrno = errno;
  return -1;
}

std::vector<std::string> environmentWithLang(
    char** env, const std::string& lang,
    const std::vector<std::string>& additions) {
  std::vector<std::string> result;
  for (char** entry = env; entry && *entry; ++entry) {
    // An inherited variable of an added name would say something else than
    // the launcher means; the child sees the launcher's value only.
    bool replaced = false;
    for (const std::string& added : additions) {
      size_t equals = added.find('=');
      if (equals != std::string::npos &&
          strncmp(*entry, added.c_str(), equals + 1) == 0) {
        replaced = true;
      }
    }
    if (replaced) continue;
    if (!lang.empty() && strncmp(*entry, "LANG=", 5) == 0) {
      result.push_back("LANG=" + lang);
    } else {
      result.push_back(*entry);
    }
  }
  result.insert(result.end(), additions.begin(), additions.end());
  return result;
}

std::vector<std::string> childEnvironment(
    const std::string& lang, const std::vector<std::string>& additions) {
  return environmentWithLang(environ, lang, additions);
}

int runProgram(const std::string& path, const std::vector<std::string>& argv,
               const std::string& lang, int* execErrno) {
  return runProgram(path, argv, environmentWithLang(environ, lang), execErrno);
}

int runProgram(const std::string& path, const std::vector<std::string>& argv,
               const std::vector<std::string>& env, int* execErrno) {
  std::vector<char*> envp = toArgv(env);
  return runChild(path, argv, envp.data(), execErrno);
}

std::string joinPath(const std::string& dir, const std::string& name) {
  std::string path;
  normalizePath(&path, dir + "/" + name);
  return path;
}

int normalizePath(std::string* result, const std::string& path) {
  *result = path;
  return 0;
}

int isFileAbsolute(const std::string& path) {
  return !path.empty() && path[0] == '/' ? 1 : 0;
}

int platformStrCaseCmp(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str());
}

void setUpProcess() {
  // A file the launcher opens must never become its standard error: a
  // message would be written into it.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Those below it are open by now, so the new descriptor is this one;
    // it stays open for the whole run.
    int opened = openat(AT_FDCWD, "/dev/null", O_RDWR);
    if (opened != fd) {
      if (opened >= 0) close(opened);
      break;
    }
  }
  // An inherited ignored SIGCHLD makes the kernel reap every child itself,
  // so no child's status could be read.
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGCHLD, &action, nullptr);
}

int wasSignalPassedOn() { return signalPassedOn ? 1 : 0; }

int isRunningProgram(const std::string& path) {
  const struct stat* self = runningProgramId();
  if (!self) return -1;
  struct stat candidate;
  return fstatat(AT_FDCWD, path.c_str(), &candidate, 0) == 0 && isSameFile(*self, candidate) ? 1 : 0;
}

std::string runningProgramPath() {
  // The executed path keeps the directory of a symbolic link it went
  // through; /proc/self/exe has only the target's.
  std::string executed = executedPath();
  if (!executed.empty() && isRunningProgram(executed) == 1) {
    return executed[0] == '/' ? executed : currentDirectory() + "/" + executed;
  }
  return readLink(AT_FDCWD, "/proc/self/exe");
}

int locateLauncher(const std::string& argv0, std::string* fullPath) {
  const struct stat* self = runningProgramId();
  if (!self) {
    // Nothing to compare with: every candidate counts, as it always did.
    *fullPath = findSpelling(argv0, CommandFilter());
    return -1;
  }
  // The directory is opened at once, so a relative path is taken against
  // the working directory the launcher started in, whatever its name is
  // by now.
  std::string executed = executedPath();
  std::string spelled;
  int dirFd = executed.empty() ? -1 : openDirectoryOf(executed);
  if (dirFd >= 0 && namesProgram(dirFd, baseName(executed), *self)) {
    spelled = executed[0] == '/' ? executed : currentDirectory() + "/" + executed;
  } else {
    if (dirFd >= 0) close(dirFd);
    spelled = readLink(AT_FDCWD, "/proc/self/exe");
    dirFd = spelled.empty() || spelled[0] != '/' ? -1 : openDirectoryOf(spelled);
    if (dirFd >= 0 && !namesProgram(dirFd, baseName(spelled), *self)) {
      close(dirFd);
      dirFd = -1;
    }
  }
  if (dirFd < 0) {
    CommandFilter filter;
    filter.test = isRunningSpelling;
    *fullPath = findSpelling(argv0, filter);
    if (fullPath->empty()) *fullPath = runningProgramPath();
    return -1;
  }
  // argv[0] may choose how that directory is spelled, never another one.
  // Root's spelling is always the kernel's: any other name for the
  // directory may lie in one another user can rename.
  SpellingRule rule;
  rule.program = *self;
  if (isTrustEnforced() || fstat(dirFd, &rule.packageDir) != 0) {
    *fullPath = spelled;
    return dirFd;
  }
  CommandFilter filter;
  filter.test = isPackageSpelling;
  filter.context = &rule;
  *fullPath = findSpelling(argv0, filter);
  if (fullPath->empty()) *fullPath = spelled;
  return dirFd;
}

FILE* openLogStream(const std::string& path, std::string* why) {
  int fd = openLogFile(path, why);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "w");
  if (!file) close(fd);
  return file;
}
