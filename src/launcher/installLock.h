// One install at a time: a run that is about to install takes a lock for the
// record it reads the agent's location from, so runs that start together
// install once and the others find what that one installed.
#ifndef LAUNCHER_INSTALLLOCK_H_
#define LAUNCHER_INSTALLLOCK_H_

#include <string>

// A run waits this long for another one's install at most, then goes on
// without the lock: an installer may take many minutes, none takes hours.
const int kInstallLockLimitSeconds = 30 * 60;

enum InstallLockState {
  INSTALL_LOCK_NONE,       // not asked for, or released
  INSTALL_LOCK_HELD,       // held by this run
  INSTALL_LOCK_FAILED,     // cannot be taken: `why` says why
  INSTALL_LOCK_TIMED_OUT,  // another run held it past the limit
};

// Owns the lock file's descriptor: the lock ends with it, also when the
// process dies. Neither the installer nor the agent holds it. A release
// removes the file, so no lock outlives the install it guarded but one
// whose run was killed.
class InstallLock {
 public:
  InstallLock() = default;
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;
  ~InstallLock() { release(); }
  void release();

  InstallLockState state = INSTALL_LOCK_NONE;
  std::string path;    // the lock file
  std::string why;     // for INSTALL_LOCK_FAILED
  bool waited = false;  // another run held it when this one came
  long holderPid = 0;   // that run's pid, when known; else 0
  long long waitedMilliseconds = 0;  // the time slept waiting
  int fd = -1;
  int dirFd = -1;     // the directory it lies in
  std::string name;   // its name there
};

// Takes the lock for the record at `recordPath`, waiting while another run
// holds it, at most `limitSeconds`. The lock lives in a directory of the
// effective user's alone: root's under /run, where no other user can create
// or hold one; another user's in their runtime directory, else their home.
// Its name is a hash of the record's path, so runs that read different
// records never wait for each other. `onWait` (when given) is called once,
// before the wait, with the holder's pid (0 when unknown).
void takeInstallLock(const std::string& recordPath, int limitSeconds,
                     void (*onWait)(long holderPid), InstallLock* lock);

#endif  // LAUNCHER_INSTALLLOCK_H_
