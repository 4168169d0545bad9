// Why a program cannot be started, as far as its file tells: the words a
// log line or a package author needs where the system has only an errno.
#ifndef LAUNCHER_PROGRAMFILE_H_
#define LAUNCHER_PROGRAMFILE_H_

#include <string>
#include <sys/types.h>

// With `execErrno` 0, predicts from the file alone whether the user `uid`
// (group `gid`, and the supplementary groups when `uid` is the effective
// user) can start `path`: empty when nothing is wrong as far as the file
// tells. With the errno of a failed exec, explains it: the file's reason
// where it tells one, else the system's text for the errno; never empty.
// Reads at most the first 256 bytes of each file it looks at.
std::string whyProgramCannotStart(const std::string& path, int execErrno,
                                  uid_t uid, gid_t gid);
// The same for the launcher's own (effective) identity.
std::string whyProgramCannotStart(const std::string& path, int execErrno);

#endif  // LAUNCHER_PROGRAMFILE_H_
