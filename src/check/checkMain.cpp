// launcher-check's own command line: which package, which launcher
// options, for whom, text or JSON, and whether to try the package for real;
// the exit status is the verdict.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "checkOutput.h"
#include "checkRun.h"
#include "launcherVersion.h"
#include "trial.h"

namespace {

const char kUsage[] =
    "usage: launcher-check [--json] [--strict] [--as-root | --as-user[=USER]] [--home DIR]\n"
    "                      [--clean] LAUNCHER [LAUNCHER-OPTION...]\n"
    "       launcher-check [--json] [--strict] --matrix [--as-user=USER] [--home DIR]\n"
    "                      LAUNCHER [LAUNCHER-OPTION...]\n"
    "       launcher-check [--json] [--strict] --trial [--as-root | --as-user[=USER] | --matrix]\n"
    "                      [--home DIR] [--agent-seconds N] [--network] [--scratch-size SIZE]\n"
    "                      [--upgrade-from OLD-LAUNCHER] [--system DIR] LAUNCHER [LAUNCHER-OPTION...]\n"
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
  bool trial = false;
  TrialOptions trialOptions;
};

const long kMostAgentSeconds = 86400;
const unsigned long long kLeastScratchBytes = 1ULL << 20, kMostScratchBytes = 1ULL << 40;

// A size as tmpfs takes it: a number of bytes, or of KiB, MiB, GiB or TiB
// with K, M, G or T after it. False for anything else or out of range.
bool parseScratchSize(const std::string& text, unsigned long long* bytes) {
  size_t digits = 0;
  unsigned long long value = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    // Past the largest size allowed is too large, whatever follows.
    if (value > kMostScratchBytes) return false;
    value = value * 10 + static_cast<unsigned>(text[digits] - '0');
    ++digits;
  }
  if (digits == 0 || text.size() > digits + 1) return false;
  int shift = 0;
  if (digits < text.size()) {
    const char* units = "KMGT";
    char letter = text[digits];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    const char* unit = letter != '\0' ? strchr(units, letter) : nullptr;
    if (!unit) return false;
    shift = 10 * static_cast<int>(unit - units + 1);
  }
  if (value > (kMostScratchBytes >> shift)) return false;
  *bytes = value << shift;
  return *bytes >= kLeastScratchBytes;
}

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

// The old launcher (a file) or the system tree (a directory) as an
// absolute path: the trial shows them at their own paths inside.
bool trialPathOption(bool file, std::string* value) {
  if (value->empty()) return false;
  if ((*value)[0] != '/') {
    char* cwd = getcwd(nullptr, 0);
    if (!cwd) return false;
    *value = std::string(cwd) + "/" + *value;
    free(cwd);
  }
  struct stat st;
  return stat(value->c_str(), &st) == 0 && (file ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode));
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
    } else if (option == "--trial") {
      options.trial = true;
    } else if (option == "--agent-seconds" || startsWith(option, "--agent-seconds=")) {
      if (option == "--agent-seconds" && i + 1 >= argc) {
        return usageMistake("--agent-seconds needs a number of seconds");
      }
      std::string value = option == "--agent-seconds" ? argv[++i] : option.substr(16);
      char* end = nullptr;
      long seconds = strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || seconds < 0 || seconds > kMostAgentSeconds) {
        return usageMistake("--agent-seconds needs a number of seconds from 0 to 86400");
      }
      options.trialOptions.agentSeconds = static_cast<int>(seconds);
    } else if (option == "--network") {
      options.trialOptions.shareNetwork = true;
    } else if (option == "--scratch-size" || startsWith(option, "--scratch-size=")) {
      if (option == "--scratch-size" && i + 1 >= argc) {
        return usageMistake("--scratch-size needs a size");
      }
      std::string value = option == "--scratch-size" ? argv[++i] : option.substr(15);
      if (!parseScratchSize(value, &options.trialOptions.scratchBytes)) {
        return usageMistake("--scratch-size needs a size from 1M to 1T, such as 512M or 4G");
      }
    } else if (option == "--upgrade-from" || startsWith(option, "--upgrade-from=") ||
               option == "--system" || startsWith(option, "--system=")) {
      bool upgrade = startsWith(option, "--upgrade-from");
      std::string name = upgrade ? "--upgrade-from" : "--system";
      if (option == name && i + 1 >= argc) {
        return usageMistake(name + (upgrade ? " needs the old release's launcher"
                                            : " needs a root file system tree"));
      }
      std::string value = option == name ? argv[++i] : option.substr(name.size() + 1);
      if (!trialPathOption(upgrade, &value)) {
        std::string mistake = name;
        mistake.append(" ").append(value).append(upgrade ? ": no such file" : ": no such directory");
        return usageMistake(mistake);
      }
      (upgrade ? options.trialOptions.upgradeFrom : options.trialOptions.system) = value;
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
  if (!options.trial && (!options.trialOptions.upgradeFrom.empty() ||
                         !options.trialOptions.system.empty())) {
    return usageMistake("--upgrade-from and --system go with --trial");
  }
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
    // A trial starts from a clean machine: so does the prediction it is
    // held against.
    reports[row].clean = options.matrix ? row % 2 == 1 : options.clean || options.trial;
  }
  for (CheckReport& report : reports) {
    checkPackage(argv[i], std::vector<std::string>(argv + i + 1, argv + argc), &report);
  }
  std::string out;
  if (!options.json) {
    out = options.matrix ? formatMatrixText(reports, options.strict) : formatCheckText(reports[0]);
  }
  // One verdict for the command: the exit status, and the JSON's too.
  int verdict = checkVerdict(reports, options.strict);
  std::vector<TrialReport> trials;
  if (options.trial) {
    // The dry run's report comes first: a trial takes a while.
    fwrite(out.data(), 1, out.size(), stdout);
    fflush(stdout);
    out.clear();
    for (size_t row = 0; row < reports.size(); ++row) {
      // The matrix's rows on a clean machine are the trials.
      if (options.matrix && !reports[row].clean) continue;
      trials.emplace_back();
      runTrial(options.trialOptions, reports[row].identity, reports[row], &trials.back());
      trials.back().row = static_cast<unsigned>(row + 1);
    }
    verdict = trialVerdict(reports, &trials, options.strict);
    if (!options.json) {
      out = formatTrialText(trials) + formatVerdictText(reports, trials, options.strict, verdict);
    }
  }
  if (options.json) {
    out = formatCheckJson(reports, options.strict, verdict);
    if (options.trial) {
      // The trials are one more member of the same document.
      out.erase(out.rfind('}'));
      while (!out.empty() && out.back() == '\n') out.pop_back();
      out += ",\n  \"trials\": " + formatTrialJson(trials) + "\n}\n";
    }
  }
  fwrite(out.data(), 1, out.size(), stdout);
  if (fflush(stdout) != 0) {
    perror("launcher-check: standard output");
    return 2;
  }
  return verdict;
}

}  // namespace

int main(int argc, char** argv) { return launcherCheckMain(argc, argv); }
