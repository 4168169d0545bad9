#include "installLock.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "trust.h"
#include "utilitiesLinux.h"

// Every library function the launcher imports costs each run about a
// thousand instructions at start (immediate binding), the runs that find the
// agent too: the lock makes do with what the launcher imports already, but
// for mkdirat and unlinkat.

namespace {

const char kRootLockParent[] = "/run";
const char kLockDirName[] = "launcher-locks";
const char kHiddenLockDirName[] = ".launcher-locks";

// A sleep: no signal to wait for, only the time-out.
void pauseMilliseconds(long ms) {
  sigset_t none;
  sigemptyset(&none);
  struct timespec ts = {static_cast<time_t>(ms / 1000), (ms % 1000) * 1000000};
  sigtimedwait(&none, nullptr, &ts);
}

// FNV-1a: the name only has to differ between records, not resist anyone;
// two records that share a name merely wait for each other.
std::string lockName(const std::string& recordPath) {
  unsigned long long hash = 14695981039346656037ULL;
  for (unsigned char c : recordPath) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  std::string name = "install-0000000000000000.lock";
  for (int i = 0; i < 16; ++i) {
    name[8 + static_cast<size_t>(i)] = "0123456789abcdef"[(hash >> (60 - 4 * i)) & 0xf];
  }
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
      baseFd = openat(AT_FDCWD, runtime, O_PATH | O_DIRECTORY | O_CLOEXEC);
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
      baseFd = openat(AT_FDCWD, base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
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

// A lock of the process, not of the descriptor: a child never inherits it,
// the installer included, and it ends with the process. The launcher opens
// the lock file once, so no other close can end it early.
int tryLock(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return fcntl(fd, F_SETLK, &lock);
}

// The pid of the run that holds the lock; 0 when it just let go.
long holderPid(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type == F_UNLCK) return 0;
  return lock.l_pid > 0 ? static_cast<long>(lock.l_pid) : 0;
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
    if (tryLock(lock->fd) == 0) {
      if (isStillNamed(lock->dirFd, lock->name, lock->fd)) break;
      close(lock->fd);
      lock->fd = -1;
      continue;
    }
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
      lock->why = lock->path + ": " + strerror(errno);
      lock->release();
      return;
    }
    if (!lock->waited) {
      // Polled rather than blocked on, so the wait has an end; the holder
      // usually runs an installer for seconds to minutes.
      lock->waited = true;
      lock->holderPid = holderPid(lock->fd);
      if (onWait) onWait(lock->holderPid);
    } else if (lock->waitedMilliseconds >= static_cast<long long>(limitSeconds) * 1000) {
      lock->release();
      lock->state = INSTALL_LOCK_TIMED_OUT;
      return;
    }
    pauseMilliseconds(pause);
    lock->waitedMilliseconds += pause;
    if (pause < 250) pause *= 2;
  }
  lock->state = INSTALL_LOCK_HELD;
}
