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

// 1 when the running program can be identified at all.
int isRunningProgramKnown();
// 1 when `path` is the running program (same file), 0 when not, -1 when the
// running program cannot be identified.
int isRunningProgram(const std::string& path);
// As isRunningProgram, and also in the directory of the path the kernel
// executed, where that path is known and names the running program.
int isStartedProgram(const std::string& path);
// The running program's own path: the one the kernel executed, when it
// still names the running program, else its target; empty when unknown.
std::string runningProgramPath();

// Opens the diagnostic log for writing, emptied, close-on-exec, created with
// mode 0600. A symbolic link as its last component is followed only when it
// belongs to the effective user or to root; null otherwise or on failure.
FILE* openLogStream(const std::string& path);

// Catalogue text of `key` in the user's language; empty when absent.
void getString(int key, std::string* dst);

// The user's home directory: $HOME, else the password database entry of the
// real user id. Returns 0 when one was found, -1 (and an empty *dst) when
// there is none, so per-user files are never looked up relative to the
// working directory by accident.
int getHomeDir(std::string* dst);
int getMyDocumentDir(std::string* dst);
int getProfileDir(std::string* dst);
// "/etc" when `machineWide` is not 0, else the home directory.
int getAppDataDir(std::string* dst, int machineWide);

// 1 when the real user id is 0.
int isAdmin();

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
// Meanwhile SIGINT and SIGQUIT are ignored and SIGTERM and SIGHUP are passed
// on to the child (unless inherited as ignored); the child starts with the
// actions and mask the launcher inherited.
int runProgram(const std::string& path, const std::vector<std::string>& argv);
// The same, with LANG replaced by `lang` in the child's environment.
int runProgram(const std::string& path, const std::vector<std::string>& argv,
               const std::string& lang);
// The same, with `env` (NAME=value entries) as the child's whole environment.
int runProgram(const std::string& path, const std::vector<std::string>& argv,
               const std::vector<std::string>& env);
// 1 once a signal has been passed on to a child: the caller was asked to
// stop, so the launcher starts nothing more.
int wasSignalPassedOn();
// Replaces the launcher's process image with `path`; returns -1 only when
// that fails.
int replaceProgram(const std::string& path,
                   const std::vector<std::string>& argv);
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
