// Helpers shared by the unit, catalogue and dialog tests: scratch folders,
// whole files, scoped changes to the environment and the working directory,
// running a program with its output captured, and private locales.
#ifndef LAUNCHER_TESTS_TEST_SUPPORT_H_
#define LAUNCHER_TESTS_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A fresh folder under /tmp, removed with everything in it.
struct TempDir {
  std::string path;
  TempDir() { char name[] = "/tmp/launcher-test.XXXXXX"; path = mkdtemp(name) ? name : "/nonexistent"; }
  ~TempDir() { std::error_code e; std::filesystem::remove_all(path, e); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// Creates the missing parent folders first.
inline void writeFile(const std::string& path, const std::string& text, bool executable = false) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::ofstream(path, std::ios::binary) << text;
  if (executable) chmod(path.c_str(), 0755);
}
inline std::string readFile(const std::string& path) {  // empty when unreadable
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// Sets (or, for null, unsets) a variable and restores it afterwards.
struct ScopedEnv {
  std::string name;
  std::optional<std::string> old;
  ScopedEnv(const char* n, const char* value) : name(n) {
    if (const char* o = getenv(n)) old = o;
    value ? setenv(n, value, 1) : unsetenv(n);
  }
  ~ScopedEnv() { old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str()); }
};
struct ScopedCwd {
  std::string old = std::filesystem::current_path();
  explicit ScopedCwd(const std::string& dir) { EXPECT_EQ(0, chdir(dir.c_str())) << dir; }
  ~ScopedCwd() { EXPECT_EQ(0, chdir(old.c_str())); }
};

struct RunResult {
  int status = -1;  // exit status, 128 + signal, or -1 when it was killed for time
  int pid = 0;
  std::string out, err;
};

// Runs argv[0] (a path) in `dir` (empty: here). `env` changes the inherited
// environment: "NAME=value" sets, "NAME" unsets, and "-" first starts from an
// empty one. A program still running after `seconds` is killed: a dialog that
// nobody closes would block forever.
inline RunResult runCaptured(const std::vector<std::string>& argv,
                             const std::vector<std::string>& env = {}, const std::string& dir = "",
                             int seconds = 60) {
  RunResult result;
  FILE* files[2] = {tmpfile(), tmpfile()};
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  fflush(nullptr);
  if ((result.pid = files[0] && files[1] ? fork() : -1) == 0) {
    for (const std::string& change : env) {
      size_t eq = change.find('=');
      if (change == "-") clearenv();
      else if (eq == std::string::npos) unsetenv(change.c_str());
      else setenv(change.substr(0, eq).c_str(), change.c_str() + eq + 1, 1);
    }
    if ((dir.empty() || chdir(dir.c_str()) == 0) && dup2(fileno(files[0]), 1) == 1 &&
        dup2(fileno(files[1]), 2) == 2) {
      execv(args[0], args.data());
    }
    _exit(127);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  bool killed = false;
  while (result.pid > 0 && waitpid(result.pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) killed = kill(result.pid, SIGKILL) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (result.pid > 0 && !killed) {
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string* texts[2] = {&result.out, &result.err};
  for (int i = 0; i < 2 && files[i]; ++i) {
    rewind(files[i]);
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, files[i])) > 0;) texts[i]->append(buffer, n);
    fclose(files[i]);
  }
  return result;
}

// Compiles locales into `dir` (made if missing) for LOCPATH, so the
// machine's own set-up plays no part. Each entry is "NAME INPUT CHARMAP"
// ("fr_FR.UTF-8 fr_FR UTF-8"). Returns what went wrong, or the empty text.
inline std::string makeLocales(const std::string& dir, const std::vector<std::string>& locales) {
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  // Two at a time, as the machine has two cores. localedef ends with 1 when
  // it only warned: the files it wrote are what counts.
  std::vector<std::string> argv = {
      "/bin/sh", "-c",
      "printf '%s\\n' \"$@\" | xargs -P2 -L1 sh -c 'localedef -i \"$1\" -f \"$2\" \"./$0\"'", "sh"};
  argv.insert(argv.end(), locales.begin(), locales.end());
  RunResult run = runCaptured(argv, {}, dir, 600);
  std::string missing;
  for (const std::string& locale : locales) {
    std::string name = dir + "/" + locale.substr(0, locale.find(' '));
    struct stat st;
    if (stat((name + "/LC_CTYPE").c_str(), &st) != 0 ||
        stat((name + "/LC_MESSAGES").c_str(), &st) != 0) {
      missing += " " + name;
    }
  }
  return missing.empty() ? "" : "localedef (Debian package locales) did not make" + missing + ":\n" + run.err;
}

#endif  // LAUNCHER_TESTS_TEST_SUPPORT_H_
