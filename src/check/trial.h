// The trial: installs the package for real in a throwaway copy of this
// machine, as root or as an ordinary user, and checks item by item what the
// launcher then needs, with the launcher's own functions. Then it starts the
// agent there for a few seconds. Nothing of it reaches the real machine.
#ifndef LAUNCHER_TRIAL_H_
#define LAUNCHER_TRIAL_H_

#include <string>
#include <vector>

#include "check.h"
#include "checkIdentity.h"
#include "records.h"
#include "sandbox.h"
#include "trialVariants.h"

struct TrialOptions {
  int agentSeconds = 10;  // how long the agent may run before it is ended
  bool shareNetwork = false;  // the machine's network, not loopback alone
  unsigned long long scratchBytes = kSandboxScratchBytes;  // each scratch file system
  // The last release's launcher: it installs first, in the same copy.
  std::string upgradeFrom;
  // Another system's root file system tree, as the copy's lower layer.
  std::string system;
};

// One part of the contract between the package, its installer and the
// launcher, as it turned out.
struct TrialItem {
  std::string code;  // stable: ini-file, launcher, installer, location, agent-directory,
                     // config, installed-packages, program,
                     // program-silent, agent-run
  bool holds = false;
  std::string detail;
  std::string fix;  // empty when it holds
};

struct TrialReport {
  std::string user;  // the name, or the number when there is none
  unsigned uid = 0;
  std::string home;
  bool homeOnMachine = false;  // this machine has that directory
  bool sharedNetwork = false;  // the machine's network, else loopback alone
  int verdict = 2;   // 0 every item holds, 1 one fails, 2 no trial
  std::string why;   // for verdict 2: what was missing
  std::vector<std::string> hidden;  // removed first to make the machine clean
  std::vector<std::string> readOnly;  // unwritable in the copy
  unsigned long long scratchBytes = 0;
  // What the copy refused: system calls, by name, and the scratch file
  // systems the installer filled.
  std::vector<std::string> refusedCalls, fullFileSystems;

  bool installerRan = false;
  std::vector<std::string> installerArgv;
  int installerStatus = -1;
  std::string installerOutput;  // its first lines

  std::vector<TrialItem> items;
  std::string agentLocation, agentVersion;

  bool agentStarted = false;
  std::vector<std::string> agentArgv;
  bool agentRunning = false;  // still running when its time was up
  int agentStatus = -1;
  double agentSeconds = 0;  // how long it ran
  std::string agentOutput;  // its first lines

  std::vector<SandboxChange> changes;  // by the installer

  // The dry run's row this trial ran (from 1); set by trialVerdict: whether
  // the dry run predicted an error there, and whether the trial saw that
  // row work all the same (a fault of the tool).
  unsigned row = 0;
  bool predictedFails = false;
  bool contradicted = false;
  std::string system;      // the tree the copy was made of; empty: this machine
  TrialUpgrade upgradeRun;  // from is empty unless the last release installed first
};

// Runs the trial for the package `check` describes, as `who`, with
// its home directory (HOME, else the password database's) empty. Returns
// the verdict.
int runTrial(const TrialOptions& options, const CheckIdentity& who,
             const CheckReport& check, TrialReport* report);

// The command's one verdict with --trial: a trial decides the row it ran
// (its `row`), the dry run the rows no trial ran; with `strict`, a warning
// of the dry run fails its row either way. 2 when a trial could not run.
// Marks each trial whose row the dry run predicted otherwise.
int trialVerdict(const std::vector<CheckReport>& rows, std::vector<TrialReport>* trials,
                 bool strict);

// launcher-check's trial output.
std::string formatTrialText(const std::vector<TrialReport>& trials);
// The rows with the dry run's prediction and the trial side by side, a
// contradiction called one, and the exit status.
std::string formatVerdictText(const std::vector<CheckReport>& rows,
                              const std::vector<TrialReport>& trials, bool strict, int verdict);
std::string formatTrialJson(const std::vector<TrialReport>& trials);

#endif  // LAUNCHER_TRIAL_H_
