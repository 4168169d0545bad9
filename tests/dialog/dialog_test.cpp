// Real message dialogs, read back from inside the process under test by the
// dialog_probe GTK module, on the display that with-xvfb.sh provides.
//
// The launcher under test is DIALOG_TEST_LAUNCHER when set (so the same
// tests can run against another build of it), else the one built here.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "install.h"

namespace fs = std::filesystem;

namespace {

const char kInstallFailedText[] =
    "The installer encountered an error when installing Telvane Quorvin.  "
    "Installation has discontinued. \nReturn Code=3";
const char kUsageText[] =
    "setup [-h] [-input INPUT_FILE] [-silent] [-licenseAccepted] "
    "[-installerArgs arg1 arg2...] [-managerArgs arg1 arg2 ...]";

std::string launcherPath() {
  const char* path = getenv("DIALOG_TEST_LAUNCHER");
  return path && *path ? path : DIALOG_TEST_DEFAULT_LAUNCHER;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, const std::string& text,
               bool executable = false) {
  std::ofstream(path, std::ios::binary) << text;
  if (executable) fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
}

// --- Running a program -----------------------------------------------------

// Environment changes for one run: "NAME=value" sets, "NAME" alone unsets.
typedef std::vector<std::string> EnvChanges;

struct RunResult {
  int status = -1;  // exit status; -1 when killed by a signal or timed out
  bool timedOut = false;
  pid_t pid = 0;
  std::string out, err;
};

RunResult run(const std::vector<std::string>& args, const EnvChanges& env,
              const fs::path& workDir, const fs::path& scratch) {
  RunResult result;
  fs::path outFile = scratch / "stdout", errFile = scratch / "stderr";
  pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& change : env) {
      size_t eq = change.find('=');
      if (eq == std::string::npos) unsetenv(change.c_str());
      else setenv(change.substr(0, eq).c_str(), change.c_str() + eq + 1, 1);
    }
    int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || chdir(workDir.c_str()) != 0) _exit(126);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  result.pid = pid;
  // A dialog that nobody closes would block forever.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!result.timedOut && WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  result.out = readFile(outFile);
  result.err = readFile(errFile);
  return result;
}

// --- What the probe module saw -----------------------------------------------

struct Dialog {
  bool hasTitle = false;
  std::string title, type;
  std::vector<std::string> labels, buttons;
};

std::string unescape(const std::string& value) {
  std::string text;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      ++i;
      text += value[i] == 'n' ? '\n' : value[i];
    } else {
      text += value[i];
    }
  }
  return text;
}

std::vector<Dialog> readReport(const fs::path& path) {
  std::vector<Dialog> dialogs;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line == "dialog") {
      dialogs.emplace_back();
      continue;
    }
    if (dialogs.empty() || line == "end") continue;
    size_t eq = line.find('=');
    std::string key = line.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : unescape(line.substr(eq + 1));
    Dialog& dialog = dialogs.back();
    if (key == "title") {
      dialog.hasTitle = true;
      dialog.title = value;
    } else if (key == "type") {
      dialog.type = value;
    } else if (key == "label") {
      dialog.labels.push_back(value);
    } else if (key == "button") {
      dialog.buttons.push_back(value);
    }
  }
  return dialogs;
}

// --- A launcher package in a temporary directory -----------------------------

const char kIniTemplate[] =
    "[INSTALLER]\n"
    "LOCATION=@LOCATION@\n"
    "[MANAGER]\n"
    "VERSION=1.0.0\n"
    "LOCATION_KEY=agent.key\n"
    "LAUNCHER=agent\n";

class Package {
 public:
  Package() {
    char pattern[] = "/tmp/dialog-test.XXXXXX";
    const char* made = mkdtemp(pattern);
    root_ = fs::canonical(made ? made : "/nonexistent");
    fs::create_directory(dir());
    fs::create_directory(home());
    fs::copy_file(launcherPath(), dir() / "setup");
  }
  ~Package() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path root() const { return root_; }
  fs::path dir() const { return root_ / "package"; }
  fs::path home() const { return root_ / "home"; }
  fs::path report() const { return root_ / "report.txt"; }
  // The launcher's own directory ends with "/", and the installer path joins
  // it to LOCATION with another one.
  std::string joined(const std::string& location) const {
    return dir().string() + "//" + location;
  }

  // setup.ini naming `location` as the installer, and inst.sh ending with
  // `installerStatus`.
  void configure(const std::string& location, int installerStatus = 3) {
    std::string ini = kIniTemplate;
    ini.replace(ini.find("@LOCATION@"), 10, location);
    writeFile(dir() / "setup.ini", ini);
    writeFile(dir() / "inst.sh",
              "#!/bin/sh\nexit " + std::to_string(installerStatus) + "\n", true);
  }

  // An installed agent of the required version, found through the location
  // key; the agent program ends with `status`.
  void installAgent(int status) {
    fs::path agent = root_ / "agent";
    fs::create_directories(agent / "eclipse" / "configuration");
    fs::create_directories(agent / "data");
    writeFile(home() / "agent.key", "location=" + agent.string() + "\n");
    writeFile(agent / "eclipse" / "configuration" / "config.ini",
              "zel.appDataLocation=" + (agent / "data").string() + "\n");
    writeFile(agent / "data" / "installed.xml",
              std::string("<package id='") + kAgentPackageId +
                  "' version='1.0.0'/>\n");
    writeFile(agent / "agent", "#!/bin/sh\nexit " + std::to_string(status) + "\n",
              true);
  }

  // Runs the launcher from the home directory, where a per-user key and a
  // machine key named agent.key (as root) both lie, with the probe module
  // loaded and a plain English environment unless `env` says otherwise.
  RunResult launch(const std::vector<std::string>& args, EnvChanges env = {}) {
    std::vector<std::string> argv = {(dir() / "setup").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, withDefaults(env), home(), root_);
  }

  EnvChanges withDefaults(const EnvChanges& env) const {
    EnvChanges all = {"HOME=" + home().string(),
                      "GTK_MODULES=" + std::string(DIALOG_TEST_PROBE),
                      "DIALOG_PROBE_REPORT=" + report().string(),
                      "DIALOG_PROBE_SHOT",
                      "LANG=C",
                      "LC_ALL",
                      "LC_MESSAGES",
                      "LANGUAGE",
                      "LD_DEBUG",
                      // The toolkit's own allocations are not ours to judge.
                      "ASAN_OPTIONS=detect_leaks=0"};
    all.insert(all.end(), env.begin(), env.end());
    return all;
  }

 private:
  fs::path root_;
};

std::string replaceAll(std::string text, const std::string& from,
                       const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

void requireDisplay() {
  const char* display = getenv("DISPLAY");
  ASSERT_TRUE(display && *display)
      << "no DISPLAY: run the dialog tests through tests/dialog/with-xvfb.sh";
  ASSERT_TRUE(fs::exists(DIALOG_TEST_PROBE))
      << "probe module missing: " << DIALOG_TEST_PROBE;
}

// --- Dialogs the launcher shows ----------------------------------------------

struct LauncherCase {
  const char* name;
  const char* location;  // null: no setup.ini at all
  std::vector<std::string> args;
  int status;
  const char* title;
  const char* type;
  const char* text;  // @DIR@ is the package directory
};

TEST(DialogLauncher, ShowsEachMessageOnceAndResumesWhenClosed) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  const LauncherCase cases[] = {
      {"installer fails", "inst.sh", {}, 3, "Error", "error", kInstallFailedText},
      {"help", "inst.sh", {"-help"}, 0, "Usage:", "info", kUsageText},
      {"help after silent", "inst.sh", {"-silent", "-?"}, 0, "Usage:", "info", kUsageText},
      {"percent in installer path", "inst%sall", {}, 1, "Error", "error",
       "The installer for Telvane Quorvin cannot be found.  \n"
       "Installer Location=@DIR@//inst%sall"},
      {"no INI file", nullptr, {"-silent"}, 1, "", "error",
       "Cannot open INI file: @DIR@/setup.ini\n"},
  };
  for (const LauncherCase& c : cases) {
    SCOPED_TRACE(c.name);
    Package package;
    if (c.location) package.configure(c.location);
    RunResult result = package.launch(c.args);
    ASSERT_FALSE(result.timedOut) << "the dialog was never closed";
    EXPECT_EQ(c.status, result.status) << result.err;
    std::vector<Dialog> dialogs = readReport(package.report());
    ASSERT_EQ(1u, dialogs.size()) << result.err;
    EXPECT_TRUE(dialogs[0].hasTitle);
    EXPECT_EQ(c.title, dialogs[0].title);
    EXPECT_EQ(c.type, dialogs[0].type);
    EXPECT_EQ(std::vector<std::string>{replaceAll(c.text, "@DIR@", package.dir().string())},
              dialogs[0].labels);
    EXPECT_EQ(std::vector<std::string>{"Close"}, dialogs[0].buttons);
  }
}

TEST(DialogLauncher, SilentModeShowsNoErrorDialog) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  Package package;
  package.configure("inst.sh", 3);
  RunResult result = package.launch({"-silent"});
  EXPECT_EQ(3, result.status);
  EXPECT_FALSE(fs::exists(package.report()));
  EXPECT_EQ("", result.err);
}

TEST(DialogLauncher, BrokenToolkitLibraryFallsBackToStandardError) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  // A library under the toolkit's name that lacks the dialog functions must
  // not take the message with it.
  Package package;
  package.configure("inst.sh", 3);
  RunResult result = package.launch(
      {}, {"LD_LIBRARY_PATH=" +
           fs::path(DIALOG_TEST_FAKE_TOOLKIT).parent_path().string()});
  EXPECT_EQ(3, result.status);
  EXPECT_EQ(std::string("Error: ") + kInstallFailedText + "\n", result.err);
  EXPECT_FALSE(fs::exists(package.report()));
}

// --- Translated dialogs --------------------------------------------------------

// Compiles `locale` once into a private directory for LOCPATH; the machine's
// own locale setup is left alone.
std::string privateLocales(const std::string& locale) {
  static std::map<std::string, std::string> made;
  static fs::path base;
  if (made.count(locale)) return made[locale];
  if (base.empty()) {
    char pattern[] = "/tmp/dialog-locales.XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) return "";
    base = dir;
    std::atexit([] { std::error_code e; fs::remove_all(base, e); });
  }
  std::string source = locale.substr(0, locale.find('.'));
  std::string command = "localedef -i " + source + " -f UTF-8 " +
                        (base / locale).string() + " >/dev/null 2>&1";
  // localedef warns (status 1) about minor things in some sources yet writes
  // a usable locale; the file it leaves is what counts.
  int ignored = system(command.c_str());
  (void)ignored;
  if (!fs::exists(base / locale / "LC_MESSAGES")) return "";
  return made[locale] = base.string();
}

TEST(DialogTranslated, TitleAndTextComeFromTheUsersLanguage) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  const struct {
    const char* locale;
    const char* title;
  } cases[] = {
      {"fr_FR.UTF-8", "Erreur"},
      {"ja_JP.UTF-8", "\xe3\x82\xa8\xe3\x83\xa9\xe3\x83\xbc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    std::string locpath = privateLocales(c.locale);
    ASSERT_NE("", locpath) << "localedef could not build " << c.locale
                           << " (Debian package locales)";
    EnvChanges env = {"LOCPATH=" + locpath, std::string("LANG=") + c.locale};

    // Without a display the same message lands on standard error; the dialog
    // must show exactly that text.
    Package package;
    package.configure("inst.sh", 3);
    env.push_back("DISPLAY");
    RunResult headless = package.launch({}, env);
    env.pop_back();
    std::string prefix = std::string(c.title) + ": ";
    ASSERT_EQ(0u, headless.err.rfind(prefix, 0)) << headless.err;
    std::string text = headless.err.substr(prefix.size());
    ASSERT_FALSE(text.empty());
    text.pop_back();  // the line end of standard error
    EXPECT_NE(kInstallFailedText, text);

    RunResult result = package.launch({}, env);
    EXPECT_EQ(3, result.status);
    std::vector<Dialog> dialogs = readReport(package.report());
    ASSERT_EQ(1u, dialogs.size()) << result.err;
    EXPECT_EQ(c.title, dialogs[0].title);
    EXPECT_EQ("error", dialogs[0].type);
    EXPECT_EQ(std::vector<std::string>{text}, dialogs[0].labels);
    EXPECT_EQ(1u, dialogs[0].buttons.size());
  }
}

// --- displayMessage called directly -------------------------------------------

RunResult drive(Package& package, const std::vector<std::string>& args,
                EnvChanges env = {}) {
  std::vector<std::string> argv = {DIALOG_TEST_DRIVER};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, package.withDefaults(env), package.root(), package.root());
}

TEST(DialogDirect, KindsMapToMessageTypesAndTextIsLiteral) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  const struct {
    const char* kind;
    const char* title;
    std::string text;
    const char* type;
  } cases[] = {
      {"0", "Zero", "kind 0", "info"},
      {"1", "One", "kind 1", "info"},
      {"2", "Two", "kind 2", "warning"},
      {"3", "Three", "kind 3", "error"},
      {"4", "Four", "kind 4", "info"},
      {"-1", "Minus", "kind -1", "info"},
      {"3", "Error", "%s %d %n %x %%", "error"},
      {"3", "Error", "<b>not markup</b> & more", "error"},
      {"1", "Message", "", "info"},
      {"1", "", "no title", "info"},
      {"1", "Long", std::string(5000, 'x'), "info"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("kind ") + c.kind + " text " + c.text.substr(0, 40));
    Package package;
    RunResult result = drive(package, {"show", c.kind, c.title, c.text});
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(0, result.status) << result.err;
    std::vector<Dialog> dialogs = readReport(package.report());
    ASSERT_EQ(1u, dialogs.size()) << result.err;
    EXPECT_EQ(c.title, dialogs[0].title);
    EXPECT_EQ(c.type, dialogs[0].type);
    EXPECT_EQ(std::vector<std::string>{c.text}, dialogs[0].labels);
    EXPECT_EQ(std::vector<std::string>{"Close"}, dialogs[0].buttons);
  }
}

TEST(DialogDirect, FormWithoutKindShowsInformation) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  Package package;
  RunResult result = drive(package, {"short", "Message", "hello"});
  std::vector<Dialog> dialogs = readReport(package.report());
  ASSERT_EQ(1u, dialogs.size()) << result.err;
  EXPECT_EQ("info", dialogs[0].type);
  EXPECT_EQ(std::vector<std::string>{"hello"}, dialogs[0].labels);
}

TEST(DialogDirect, ToolkitOptionsReachTheToolkitButNotTheSavedCommandLine) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  // The display comes only from the command line here.
  Package package;
  std::string display = getenv("DISPLAY");
  RunResult result = drive(package, {"show", "1", "T", "text", "--display",
                                     display, "-input", "x"},
                           {"DISPLAY"});
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_EQ(1u, readReport(package.report()).size()) << result.err;
  EXPECT_EQ("setup\n--display\n" + display + "\n-input\nx\n", result.out);
}

TEST(DialogDirect, ADisplayThatFailedOnceIsNotTriedAgain) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  Package package;
  RunResult result = drive(package, {"retry", "3", "Error", "twice"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("Error: twice\nError: twice\n", result.err);
  EXPECT_FALSE(fs::exists(package.report()));
}

// --- Without a display ---------------------------------------------------------

TEST(DialogHeadless, MessageGoesToStandardErrorAndStatusStands) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    const char* display;  // null: unset
    int status;
    std::string err;
  } cases[] = {
      {"installer fails", {}, nullptr, 3,
       std::string("Error: ") + kInstallFailedText + "\n"},
      {"help", {"-help"}, nullptr, 0, std::string("Usage:: ") + kUsageText + "\n"},
      {"display cannot be opened", {}, ":65000", 3,
       std::string("Error: ") + kInstallFailedText + "\n"},
      {"empty display", {}, "", 3,
       std::string("Error: ") + kInstallFailedText + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Package package;
    package.configure("inst.sh", 3);
    RunResult result = package.launch(
        c.args, {c.display ? std::string("DISPLAY=") + c.display : "DISPLAY"});
    EXPECT_EQ(c.status, result.status);
    EXPECT_EQ(c.err, result.err);
    EXPECT_FALSE(fs::exists(package.report()));
  }
}

// --- Runs that show nothing never load the toolkit -----------------------------

TEST(DialogNotLoaded, RunsWithoutMessageNeverLoadTheToolkit) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    int agentStatus;  // -1: no agent installed
    int status;
    bool loadsToolkit;
  } cases[] = {
      {"silent installer failure", {"-silent"}, -1, 3, false},
      {"agent waited for", {"-wait"}, 7, 7, false},
      {"agent replaces the launcher", {}, 5, 5, false},
      // Shows the check can see a load at all.
      {"installer failure with message", {}, -1, 3, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Package package;
    package.configure("inst.sh", 3);
    if (c.agentStatus >= 0) package.installAgent(c.agentStatus);
    std::string trace = (package.root() / "ld").string();
    RunResult result = package.launch(
        c.args, {"DISPLAY", "LD_DEBUG=libs", "LD_DEBUG_OUTPUT=" + trace});
    EXPECT_EQ(c.status, result.status) << result.err;
    // The loader writes one file per process; the launcher's own is named
    // after its process id.
    std::string loads = readFile(trace + "." + std::to_string(result.pid));
    ASSERT_NE("", loads) << "no loader trace";
    EXPECT_EQ(c.loadsToolkit, loads.find("libgtk") != std::string::npos);
  }
}

}  // namespace
