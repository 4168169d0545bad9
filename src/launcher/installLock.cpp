#include "installLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>

#include "trust.h"
#include "utilitiesLinux.h"

namespace {

const char kRootLockParent[] = "/run";
const char kLockDirName[] = "launcher-locks";
const char kHiddenLockDirName[] = ".launcher-locks";

long long monotonicMilliseconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleepMilliseconds(long ms) {
  struct timespec ts = {static_cast<time_t>(ms / 1000), (ms % 1000) * 1000000};
  nanosleep(&ts, nullptr);
}

// FNV-1a: the name only has to differ between records, not resist anyone;
// two records that share a name merely wait for each other.
std::string lockName(const std::string& recordPath) {
  unsigned long long hash = 14695981039346656037ULL;
  for (unsigned char c : recordPath) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  char name[40];
  snprintf(name, sizeof name, "install-%016llx.lock", hash);
  return name;
}

// What makes a directory or file unfit to hold the lock: anyone but the
// effective user who owns it or may enter it could hold the lock, or swap it.
std::string lockProblem(const struct stat& st, uid_t euid) {
  if (st.st_uid != euid) return "is owned by uid " + std::to_string(st.st_uid);
  if (st.st_mode & 077) return "is open to other users";
  return std::string();
}

// The directory the locks live in, as a handle; -1 with *why on failure.
// *shown is its path for messages.
int openLockDirectory(std::string* shown, std::string* why) {
  uid_t euid = geteuid();
  std::string base;
  const char* name = kLockDirName;
  int baseFd = -1;
  if (euid == 0) {
    base = kRootLockParent;
    baseFd = openTrusted(AT_FDCWD, base, O_PATH | O_DIRECTORY, why);
    if (baseFd < 0 && why->empty()) *why = base + ": " + strerror(errno);
    if (baseFd < 0) return -1;
  } else {
    // The runtime directory counts only as the user's own, as its
    // definition wants it: theirs and closed to everyone else.
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
      baseFd = open(runtime, O_PATH | O_DIRECTORY | O_CLOEXEC);
      struct stat st;
      if (baseFd >= 0 && (fstat(baseFd, &st) != 0 || !lockProblem(st, euid).empty())) {
        close(baseFd);
        baseFd = -1;
      }
      if (baseFd >= 0) base = runtime;
    }
    if (baseFd < 0) {
      if (getHomeDir(&base) != 0 || base.empty()) {
        *why = "no home directory";
        return -1;
      }
      name = kHiddenLockDirName;
      baseFd = open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (baseFd < 0) {
        *why = base + ": " + strerror(errno);
        return -1;
      }
    }
  }
  *shown = base + (base.back() == '/' ? "" : "/") + name;
  if (mkdirat(baseFd, name, 0700) != 0 && errno != EEXIST) {
    *why = *shown + ": " + strerror(errno);
    close(baseFd);
    return -1;
  }
  int dirFd = openat(baseFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  int saved = errno;
  close(baseFd);
  if (dirFd < 0) {
    *why = *shown + ": " + strerror(saved);
    return -1;
  }
  struct stat st;
  std::string problem = fstat(dirFd, &st) != 0 ? "cannot be examined" : lockProblem(st, euid);
  if (!problem.empty()) {
    *why = *shown + " " + problem;
    close(dirFd);
    return -1;
  }
  return dirFd;
}

// The pid the holder wrote into the lock file; 0 when there is none yet.
long readHolderPid(int fd) {
  char text[24] = {0};
  ssize_t got = pread(fd, text, sizeof text - 1, 0);
  if (got <= 0) return 0;
  char* end = nullptr;
  long pid = strtol(text, &end, 10);
  return end != text && *end == '\n' && pid > 0 ? pid : 0;
}

// For a run that waits: which run it waits for. Only a courtesy, so a
// failure to write it changes nothing.
void writeOwnPid(int fd) {
  char text[24];
  int length = snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
  if (ftruncate(fd, 0) != 0) return;
  ssize_t written = pwrite(fd, text, static_cast<size_t>(length), 0);
  (void)written;
}

// Opens (or creates) the lock file; -1 with *why (": reason" or " is ...",
// to follow its path) when it cannot be, or is no file of the user's alone.
int openLockFile(int dirFd, const std::string& name, std::string* why) {
  int fd = openat(dirFd, name.c_str(),
                  O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    *why = std::string(": ") + strerror(errno);
    return -1;
  }
  struct stat st;
  std::string problem = fstat(fd, &st) != 0 ? "cannot be examined"
                        : !S_ISREG(st.st_mode) ? "is not a regular file"
                        : st.st_nlink != 1 ? "has " + std::to_string(st.st_nlink) + " links"
                                           : lockProblem(st, geteuid());
  if (!problem.empty()) {
    *why = " " + problem;
    close(fd);
    return -1;
  }
  return fd;
}

// The name still leads to the locked file: the run before did not remove it
// between this run's open and its lock.
bool isStillNamed(int dirFd, const std::string& name, int fd) {
  struct stat named, held;
  return fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         fstat(fd, &held) == 0 && isSameFile(named, held);
}

}  // namespace

void InstallLock::release() {
  // Removed while still held: a run that opened it meanwhile finds, once it
  // gets the lock, that the name no longer leads to it, and takes the one
  // that does.
  if (state == INSTALL_LOCK_HELD && dirFd >= 0) unlinkat(dirFd, name.c_str(), 0);
  if (fd >= 0) close(fd);
  if (dirFd >= 0) close(dirFd);
  fd = dirFd = -1;
  if (state == INSTALL_LOCK_HELD) state = INSTALL_LOCK_NONE;
}

void takeInstallLock(const std::string& recordPath, int limitSeconds,
                     void (*onWait)(long holderPid), InstallLock* lock) {
  lock->release();
  lock->state = INSTALL_LOCK_FAILED;
  std::string dir;
  lock->dirFd = openLockDirectory(&dir, &lock->why);
  if (lock->dirFd < 0) return;
  lock->name = lockName(recordPath);
  lock->path = dir + "/" + lock->name;
  long long start = 0;
  long pause = 20;
  for (;;) {
    if (lock->fd < 0) {
      lock->fd = openLockFile(lock->dirFd, lock->name, &lock->why);
      if (lock->fd < 0) {
        lock->why = lock->path + lock->why;
        lock->release();
        return;
      }
    }
    if (flock(lock->fd, LOCK_EX | LOCK_NB) == 0) {
      if (isStillNamed(lock->dirFd, lock->name, lock->fd)) break;
      close(lock->fd);
      lock->fd = -1;
      continue;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      lock->why = lock->path + ": " + strerror(errno);
      lock->release();
      return;
    }
    if (!lock->waited) {
      // Polled rather than blocked on, so the wait has an end; the holder
      // usually runs an installer for seconds to minutes.
      lock->waited = true;
      lock->holderPid = readHolderPid(lock->fd);
      if (onWait) onWait(lock->holderPid);
      start = monotonicMilliseconds();
    } else if (lock->waitedMilliseconds >= static_cast<long long>(limitSeconds) * 1000) {
      lock->release();
      lock->state = INSTALL_LOCK_TIMED_OUT;
      return;
    }
    sleepMilliseconds(pause);
    if (pause < 250) pause *= 2;
    lock->waitedMilliseconds = monotonicMilliseconds() - start;
  }
  lock->state = INSTALL_LOCK_HELD;
  writeOwnPid(lock->fd);
}
