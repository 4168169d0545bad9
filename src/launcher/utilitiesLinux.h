// The platform layer: this platform's answers for home directories, admin
// rights, key files, child processes and path conventions.
#ifndef LAUNCHER_UTILITIESLINUX_H_
#define LAUNCHER_UTILITIESLINUX_H_

#include <cstdio>
#include <string>
#include <vector>

// Done first at start: closed descriptors 0, 1 and 2 are opened on
// /dev/null, and SIGCHLD goes back to its default.
void setUpProcess();

// 1 when `path` is the running program (same file), 0 when not, -1 when the
// running program cannot be identified.
int isRunningProgram(const std::string& path);
// The running program's own path: the one the kernel executed (made
// absolute), when it still names the running program, else its target;
// empty when unknown.
std::string runningProgramPath();
// Finds the launcher's own location once, at start. Returns its directory
// as a handle (close-on-exec, kept for the whole run): the directory of the
// path the kernel executed where that names the running program, else of
// the running program's target; -1 when the running program cannot be
// identified. *fullPath is its spelling: `argv0` as found on PATH when that
// names the running program in the same directory (root always gets the
// executed path), else the executed path made absolute.
int locateLauncher(const std::string& argv0, std::string* fullPath);

// Opens the diagnostic log as openLogFile (trust.h) does, as a stream.
// Null when refused (*why says why) or on failure (*why empty).
FILE* openLogStream(const std::string& path, std::string* why);

// Catalogue text of `key` in the user's language; empty when absent.
void getString(int key, std::string* dst);

// The user's home directory: $HOME, else the password database entry of the
// real user id. For root $HOME counts only when root's rule trusts it as a
// directory, else root's own entry is used. Returns 0 when one was found, -1 (and an empty *dst) when
// there is none, so per-user files are never looked up relative to the
// working directory by accident.
int getHomeDir(std::string* dst);
// 1 when $HOME is set but root's rule refused it: *home is its value and
// *why the refusal.
int isHomeRefused(std::string* home, std::string* why);
int getMyDocumentDir(std::string* dst);
int getProfileDir(std::string* dst);
// "/etc" when `machineWide` is not 0, else the home directory.
int getAppDataDir(std::string* dst, int machineWide);

// 1 when the real user id is 0.
int isAdmin();
// The real user id that admin rights and the password database's home
// directory are decided for: the process's own, unless a tool that explains
// a run for another user assumes one (assumeUserId). The launcher itself
// never assumes one.
long platformUserId();

enum { KEY_TYPE_USER = 1, KEY_TYPE_MACHINE = 2 };
// The file that stands for location key `keyName`; -1 when there is none
// (a per-user key without a home directory).
int getRegKeyPath(const std::string& keyName, int keyType, std::string* path);
int getRegValue(const std::string& keyName, int keyType, const std::string& key,
                std::string* dst);
int setRegValue(const std::string& keyName, int keyType, const std::string& key,
                const std::string& value);

// Runs `path` with `argv` (slot 0 included) as a child and waits for it.
// Result: the child's exit status; 128 + the signal number when a signal
// ended it; 255 when it could not be started, created or waited for.
// *execErrno (when given) is the errno of the child's failed exec, else 0.
// Meanwhile SIGINT and SIGQUIT are ignored and SIGTERM and SIGHUP are passed
// on to the child, followed by SIGCONT (unless inherited as ignored): to its
// whole process group, which the child leads unless the launcher is in the
// foreground of its terminal. The child starts with the actions and mask the
// launcher inherited, and gets SIGTERM when the launcher dies.
int runProgram(const std::string& path, const std::vector<std::string>& argv,
               int* execErrno = nullptr);
// The same, with LANG replaced by `lang` in the child's environment.
int runProgram(const std::string& path, const std::vector<std::string>& argv,
               const std::string& lang, int* execErrno = nullptr);
// The same, with `env` (NAME=value entries) as the child's whole environment.
int runProgram(const std::string& path, const std::vector<std::string>& argv,
               const std::vector<std::string>& env, int* execErrno = nullptr);
// 1 once a signal has been passed on to a child: the caller was asked to
// stop, so the launcher starts nothing more.
int wasSignalPassedOn();
// Replaces the launcher's process image with `path`; returns -1 only when
// that fails, with its errno in *execErrno (when given).
int replaceProgram(const std::string& path,
                   const std::vector<std::string>& argv,
                   int* execErrno = nullptr);
// The environment a child gets from `env`: every LANG entry replaced by
// `lang` unless that is empty, and `additions` (NAME=value) at the end, in
// place of any entry of the same name. runProgram(path, argv, lang) hands
// its child the launcher's environment with the language alone.
std::vector<std::string> environmentWithLang(
    char** env, const std::string& lang,
    const std::vector<std::string>& additions = std::vector<std::string>());
// environmentWithLang of the launcher's own environment.
std::vector<std::string> childEnvironment(
    const std::string& lang, const std::vector<std::string>& additions);

// `dir` + "/" + `name`, normalized: the launcher's way of placing a
// configured relative name under a directory.
std::string joinPath(const std::string& dir, const std::string& name);
int normalizePath(std::string* result, const std::string& path);
int isFileAbsolute(const std::string& path);
int platformStrCaseCmp(const std::string& a, const std::string& b);

#endif  // LAUNCHER_UTILITIESLINUX_H_
