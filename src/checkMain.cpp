// launcher-check's own command line: which package, which launcher
// options, text or JSON; the exit status is the verdict.
#include <cstdio>
#include <string>
#include <vector>

#include "checkOutput.h"
#include "checkRun.h"
#include "launcherVersion.h"

namespace {

const char kUsage[] =
    "usage: launcher-check [--json] LAUNCHER [LAUNCHER-OPTION...]\n"
    "       launcher-check --version\n";

// Prints, and returns the exit status (0 no errors, 1 errors, 2 usage
// mistake).
int launcherCheckMain(int argc, char** argv) {
  bool json = false;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    std::string option = argv[i];
    if (option == "--json") {
      json = true;
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
      fprintf(stderr, "launcher-check: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    }
  }
  if (i >= argc || argv[i][0] == '\0') {
    fputs(kUsage, stderr);
    return 2;
  }
  CheckReport report;
  checkPackage(argv[i], std::vector<std::string>(argv + i + 1, argv + argc), &report);
  std::string out = json ? formatCheckJson(report) : formatCheckText(report);
  fwrite(out.data(), 1, out.size(), stdout);
  if (fflush(stdout) != 0) {
    perror("launcher-check: standard output");
    return 2;
  }
  return countProblems(report, CHECK_ERROR) > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) { return launcherCheckMain(argc, argv); }
