// launcher-check's own command line: which package, which launcher
// options, text or JSON; the exit status is the verdict.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "checkOutput.h"
#include "checkRun.h"
#include "launcherVersion.h"
#include "trial.h"

namespace {

const char kUsage[] =
    "usage: launcher-check [--json] LAUNCHER [LAUNCHER-OPTION...]\n"
    "       launcher-check [--json] --trial [--as-root | --as-user[=NAME] | --matrix]\n"
    "                      [--agent-seconds N] LAUNCHER [LAUNCHER-OPTION...]\n"
    "       launcher-check --version\n";

// The trial's options; the others are the dry run's.
struct TrialRequest {
  bool trial = false;
  bool matrix = false;
  bool identityGiven = false;
  TrialOptions options;
};

// 1 when `option` is one of the trial's (taking its value from argv[*i + 1]
// where it needs one), 0 when it is not, -1 after a usage message.
int parseTrialOption(int argc, char** argv, int* i, TrialRequest* request) {
  std::string option = argv[*i];
  if (option == "--trial") {
    request->trial = true;
  } else if (option == "--matrix") {
    request->matrix = true;
  } else if (option == "--as-root") {
    request->identityGiven = true;
    request->options.user = "root";
  } else if (option == "--as-user" || option.compare(0, 10, "--as-user=") == 0) {
    request->identityGiven = true;
    request->options.user = option.size() > 10 ? option.substr(10) : "ordinary";
  } else if (option == "--agent-seconds") {
    char* end = nullptr;
    long seconds = *i + 1 < argc ? strtol(argv[*i + 1], &end, 10) : -1;
    if (!end || *end != '\0' || end == argv[*i + 1] || seconds < 0 || seconds > 86400) {
      fprintf(stderr, "launcher-check: --agent-seconds needs a number of seconds "
                      "(0 to 86400)\n%s", kUsage);
      return -1;
    }
    request->options.agentSeconds = static_cast<int>(seconds);
    ++*i;
  } else {
    return 0;
  }
  return 1;
}

// Runs the trials asked for; the exit status they give: 0, 1 or 2.
int runTrials(const TrialRequest& request, const CheckReport& report,
              std::vector<TrialReport>* trials) {
  std::vector<std::string> users = {request.options.user};
  if (request.matrix) users = {"root", "ordinary"};
  int verdict = 0;
  for (const std::string& user : users) {
    TrialOptions options = request.options;
    options.user = user;
    trials->emplace_back();
    verdict = std::max(verdict, runTrial(options, report, &trials->back()));
  }
  return verdict;
}

// Prints, and returns the exit status (0 no errors, 1 errors, 2 usage
// mistake).
int launcherCheckMain(int argc, char** argv) {
  bool json = false;
  TrialRequest trial;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    std::string option = argv[i];
    int trialOption = parseTrialOption(argc, argv, &i, &trial);
    if (trialOption < 0) return 2;
    if (trialOption > 0) continue;
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
  if (!trial.trial && (trial.matrix || trial.identityGiven)) {
    fprintf(stderr, "launcher-check: --as-root, --as-user and --matrix go with --trial\n%s",
            kUsage);
    return 2;
  }
  if (trial.matrix && trial.identityGiven) {
    fprintf(stderr, "launcher-check: --matrix runs as root and as an ordinary user: "
                    "no --as-root or --as-user with it\n%s", kUsage);
    return 2;
  }
  CheckReport report;
  checkPackage(argv[i], std::vector<std::string>(argv + i + 1, argv + argc), &report);
  int status = countProblems(report, CHECK_ERROR) > 0 ? 1 : 0;
  std::string out = json ? formatCheckJson(report) : formatCheckText(report);
  if (trial.trial) {
    // The dry run's report comes first: a trial may take a while.
    if (!json) {
      fwrite(out.data(), 1, out.size(), stdout);
      fflush(stdout);
      out.clear();
    }
    std::vector<TrialReport> trials;
    int verdict = runTrials(trial, report, &trials);
    status = verdict == 2 ? 2 : std::max(status, verdict);
    if (json) {
      // The trials are one more member of the same document.
      out.erase(out.rfind('}'));
      while (!out.empty() && out.back() == '\n') out.pop_back();
      out += ",\n  \"trials\": " + formatTrialJson(trials) + "\n}\n";
    } else {
      out = formatTrialText(trials);
    }
  }
  fwrite(out.data(), 1, out.size(), stdout);
  if (fflush(stdout) != 0) {
    perror("launcher-check: standard output");
    return 2;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) { return launcherCheckMain(argc, argv); }
