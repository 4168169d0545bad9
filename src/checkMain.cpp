// launcher-check's own command line: which package, which launcher
// options, for whom, text or JSON; the exit status is the verdict.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "checkOutput.h"
#include "checkRun.h"
#include "launcherVersion.h"

namespace {

const char kUsage[] =
    "usage: launcher-check [--json] [--strict] [--as-root | --as-user[=USER]] [--home DIR]\n"
    "                      [--clean] LAUNCHER [LAUNCHER-OPTION...]\n"
    "       launcher-check [--json] [--strict] --matrix [--as-user=USER] [--home DIR]\n"
    "                      LAUNCHER [LAUNCHER-OPTION...]\n"
    "       launcher-check --version\n";

struct ToolOptions {
  bool json = false;
  bool strict = false;
  bool asRoot = false;
  bool asUser = false;
  std::string user;
  bool hasHome = false;
  std::string home;
  bool clean = false;
  bool matrix = false;
};

int usageMistake(const std::string& what) {
  fprintf(stderr, "launcher-check: %s\n%s", what.c_str(), kUsage);
  return 2;
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, strlen(prefix), prefix) == 0;
}

// The identities the options ask for: root, an ordinary user, or the
// caller; *err when a user is unknown.
bool chosenIdentity(const ToolOptions& options, bool root, CheckIdentity* identity,
                    std::string* err) {
  if (root) return rootIdentity(options.asRoot ? options.home : std::string(), identity);
  if (options.asUser || options.matrix) {
    return userIdentity(options.user, options.home, identity, err);
  }
  *identity = callerIdentity();
  if (options.hasHome) {
    identity->hasHome = true;
    identity->home = options.home;
  }
  return true;
}

// Prints, and returns the exit status (0 no errors, 1 errors, or with
// --strict warnings too, 2 usage mistake).
int launcherCheckMain(int argc, char** argv) {
  ToolOptions options;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    std::string option = argv[i];
    if (option == "--json") {
      options.json = true;
    } else if (option == "--strict") {
      options.strict = true;
    } else if (option == "--as-root") {
      options.asRoot = true;
    } else if (option == "--as-user" || startsWith(option, "--as-user=")) {
      options.asUser = true;
      if (option.size() > 9) options.user = option.substr(10);
    } else if (option == "--home" || startsWith(option, "--home=")) {
      if (option == "--home" && i + 1 >= argc) return usageMistake("--home needs a directory");
      options.home = option == "--home" ? argv[++i] : option.substr(7);
      if (options.home.empty() || options.home[0] != '/') {
        return usageMistake("--home needs an absolute directory");
      }
      options.hasHome = true;
    } else if (option == "--clean") {
      options.clean = true;
    } else if (option == "--matrix") {
      options.matrix = true;
    } else if (option == "--version") {
      printf("launcher-check %s\n", LAUNCHER_VERSION);
      return 0;
    } else if (option == "--help") {
      fputs(kUsage, stdout);
      return 0;
    } else if (option == "--") {
      ++i;
      break;
    } else {
      return usageMistake("unknown option " + option);
    }
  }
  if (options.asRoot && options.asUser) return usageMistake("--as-root or --as-user, not both");
  if (options.matrix && (options.asRoot || options.clean)) {
    return usageMistake("--matrix already covers root and a clean machine");
  }
  if (i >= argc || argv[i][0] == '\0') {
    fputs(kUsage, stderr);
    return 2;
  }

  // The rows: root and an ordinary user, each here and on a clean machine;
  // or the one run asked for.
  // Every identity is taken before the first row changes HOME.
  std::vector<CheckReport> reports(options.matrix ? 4 : 1);
  for (size_t row = 0; row < reports.size(); ++row) {
    std::string err;
    bool root = options.matrix ? row < 2 : options.asRoot;
    if (!chosenIdentity(options, root, &reports[row].identity, &err)) {
      return usageMistake(err);
    }
    reports[row].clean = options.matrix ? row % 2 == 1 : options.clean;
  }
  for (CheckReport& report : reports) {
    checkPackage(argv[i], std::vector<std::string>(argv + i + 1, argv + argc), &report);
  }
  std::string out = options.json       ? formatCheckJson(reports, options.strict)
                    : options.matrix ? formatMatrixText(reports, options.strict)
                                     : formatCheckText(reports[0]);
  fwrite(out.data(), 1, out.size(), stdout);
  if (fflush(stdout) != 0) {
    perror("launcher-check: standard output");
    return 2;
  }
  return checkVerdict(reports, options.strict);
}

}  // namespace

int main(int argc, char** argv) { return launcherCheckMain(argc, argv); }
