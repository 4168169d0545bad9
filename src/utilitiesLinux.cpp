#include "utilitiesLinux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "keyList.h"
#include "stringtable.h"

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

// Forks, runs `path` and waits. `envp` null keeps the launcher's environment.
int runChild(const std::string& path, const std::vector<std::string>& argv,
             char** envp) {
  std::vector<char*> args = toArgv(argv);
  // Whatever the launcher buffered (the diagnostic log) is written now, once;
  // the child never flushes its inherited copies.
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return kStartFailure;
  if (pid == 0) {
    if (envp) {
      execve(path.c_str(), args.data(), envp);
    } else {
      execv(path.c_str(), args.data());
    }
    _exit(kStartFailure);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return kStartFailure;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  // As shells report it: a killed child is a failure, never a success.
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kStartFailure;
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
  printf("Invalid Key Type\n");
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
  if (home && *home) {
    dst->assign(home);
    return 0;
  }
  struct passwd* entry = getpwuid(getuid());
  if (entry && entry->pw_dir && *entry->pw_dir) {
    dst->assign(entry->pw_dir);
    return 0;
  }
  dst->clear();
  return -1;
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

int isAdmin() { return getuid() == 0 ? 1 : 0; }

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

int runProgram(const std::string& path, const std::vector<std::string>& argv) {
  return runChild(path, argv, nullptr);
}

int replaceProgram(const std::string& path,
                   const std::vector<std::string>& argv) {
  std::vector<char*> args = toArgv(argv);
  // Nothing the launcher buffered may be lost with its process image.
  fflush(nullptr);
  execv(path.c_str(), args.data());
  return -1;
}

std::vector<std::string> environmentWithLang(char** env,
                                             const std::string& lang) {
  std::vector<std::string> result;
  for (char** entry = env; entry && *entry; ++entry) {
    if (strncmp(*entry, "LANG=", 5) == 0) {
      result.push_back("LANG=" + lang);
    } else {
      result.push_back(*entry);
    }
  }
  return result;
}

int runProgram(const std::string& path, const std::vector<std::string>& argv,
               const std::string& lang) {
  std::vector<std::string> env = environmentWithLang(environ, lang);
  std::vector<char*> envp = toArgv(env);
  return runChild(path, argv, envp.data());
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
