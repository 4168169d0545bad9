// Real message dialogs, read back from inside the process under test by the
// dialog_probe GTK module, on the display that with-xvfb.sh provides.
//
// The launcher under test is DIALOG_TEST_LAUNCHER when set (so the same
// tests can run against another build of it), else the one built here.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "install.h"
#include "test_support.h"

namespace {

using Args = std::vector<std::string>;

const char kInstallFailedText[] =
    "The installer encountered an error when installing Telvane Quorvin.  "
    "Installation has discontinued. \nReturn Code=3";
const char kUsageText[] =
    "setup [-h] [-input INPUT_FILE] [-silent] [-licenseAccepted] "
    "[-installerArgs arg1 arg2...] [-managerArgs arg1 arg2 ...]";

// One dialog as the probe module reports it.
std::string record(const std::string& title, const std::string& type, const std::string& text) {
  std::string label;
  for (char c : text) label += c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
  return "dialog\ntitle=" + title + "\ntype=" + type + "\nlabel=" + label + "\nbutton=Close\nend\n";
}

// A launcher package with a home folder, and an INI file naming `location`
// as the installer, which ends with status 3.
struct Package {
  TempDir root;
  std::string dir = root / "package", home = root / "home", report = root / "report.txt";

  explicit Package(const char* location = "inst.sh") {
    const char* launcher = getenv("DIALOG_TEST_LAUNCHER");
    std::filesystem::create_directories(home);
    writeFile(dir + "/inst.sh", "#!/bin/sh\nexit 3\n", true);
    std::filesystem::copy_file(launcher && *launcher ? launcher : DIALOG_TEST_DEFAULT_LAUNCHER,
                               dir + "/setup");
    if (location) {
      writeFile(dir + "/setup.ini", "[INSTALLER]\nLOCATION=" + std::string(location) +
                                        "\n[MANAGER]\nVERSION=1.0.0\nLOCATION_KEY=agent.key\nLAUNCHER=agent\n");
    }
  }

  // An installed agent of the required version whose program ends with `status`.
  void installAgent(int status) {
    std::string agent = root / "agent";
    writeFile(home + "/agent.key", "location=" + agent + "\n");
    writeFile(agent + "/eclipse/configuration/config.ini", "zel.appDataLocation=" + agent + "/data\n");
    writeFile(agent + "/data/installed.xml",
              std::string("<package id='") + kAgentPackageId + "' version='1.0.0'/>\n");
    writeFile(agent + "/agent", "#!/bin/sh\nexit " + std::to_string(status) + "\n", true);
  }

  // The probe module loaded, a plain English environment unless `env` says
  // otherwise, and the home folder as the working directory.
  RunResult run(Args argv, const Args& env) {
    Args all = {"HOME=" + home, "GTK_MODULES=" DIALOG_TEST_PROBE, "DIALOG_PROBE_REPORT=" + report,
                "DIALOG_PROBE_SHOT", "LANG=C", "LC_ALL", "LC_MESSAGES", "LANGUAGE", "LD_DEBUG",
                // The toolkit's own allocations are not ours to judge.
                "ASAN_OPTIONS=detect_leaks=0"};
    all.insert(all.end(), env.begin(), env.end());
    return runCaptured(argv, all, home, 30);
  }
  RunResult launch(const Args& args, const Args& env = {}) {
    Args argv = {dir + "/setup"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, env);
  }
};

class Dialog : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = getenv("DISPLAY");
    ASSERT_TRUE(display && *display) << "no DISPLAY: run the dialog tests through tests/dialog/with-xvfb.sh";
    ASSERT_TRUE(std::filesystem::exists(DIALOG_TEST_PROBE)) << "probe module missing: " << DIALOG_TEST_PROBE;
  }
};
using DialogLauncher = Dialog;
using DialogTranslated = Dialog;
using DialogDirect = Dialog;
using DialogNone = Dialog;

TEST_F(DialogLauncher, ShowsEachMessageOnceAndResumesWhenClosed) {
  const struct {
    const char* location;  // null: no setup.ini at all
    Args args;
    int status;
    std::string dialog;  // @DIR@ is the package directory
  } cases[] = {
      {"inst.sh", {}, 3, record("Error", "error", kInstallFailedText)},
      {"inst.sh", {"-help"}, 0, record("Usage:", "info", kUsageText)},
      {"inst.sh", {"-silent", "-?"}, 0, record("Usage:", "info", kUsageText)},
      {"inst%sall", {}, 1, record("Error", "error", "The installer for Telvane Quorvin cannot be found.  \n"
                                                    "Installer Location=@DIR@//inst%sall")},
      {nullptr, {"-silent"}, 1, record("", "error", "Cannot open INI file: @DIR@/setup.ini\n")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dialog);
    Package package(c.location);
    RunResult result = package.launch(c.args);
    EXPECT_EQ(c.status, result.status) << result.err;
    std::string dialog = c.dialog;
    if (dialog.find("@DIR@") != std::string::npos) dialog.replace(dialog.find("@DIR@"), 5, package.dir);
    EXPECT_EQ(dialog, readFile(package.report)) << result.err;
  }
}

TEST_F(DialogTranslated, TitleAndTextComeFromTheUsersLanguage) {
  TempDir locales;
  ASSERT_EQ("", makeLocales(locales.path, {"fr_FR.UTF-8 fr_FR UTF-8", "ja_JP.UTF-8 ja_JP UTF-8"}));
  const char* const cases[][2] = {{"fr_FR.UTF-8", "Erreur"}, {"ja_JP.UTF-8", "エラー"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    Args env = {"LOCPATH=" + locales.path, std::string("LANG=") + c[0], "DISPLAY"};
    // Without a display the same message lands on standard error; the dialog
    // must show exactly that text.
    Package package;
    RunResult headless = package.launch({}, env);
    std::string prefix = std::string(c[1]) + ": ";
    ASSERT_EQ(0u, headless.err.rfind(prefix, 0)) << headless.err;
    std::string text = headless.err.substr(prefix.size(), headless.err.size() - prefix.size() - 1);
    EXPECT_NE(kInstallFailedText, text);

    env.pop_back();
    RunResult result = package.launch({}, env);
    EXPECT_EQ(3, result.status);
    // The toolkit translates the button itself.
    std::string report = readFile(package.report);
    size_t button = report.find("button=");
    if (button != std::string::npos) report.replace(button, report.find('\n', button) - button, "button=Close");
    EXPECT_EQ(record(c[1], "error", text), report);
  }
}

// displayMessage called directly, through dialog_driver.
TEST_F(DialogDirect, KindsTextsAndTheToolkitsShareOfTheCommandLine) {
  struct Case {
    Args args;
    Args env;
    std::string report, out, err;
  };
  const std::string display = getenv("DISPLAY");
  std::vector<Case> cases = {
      {{"short", "Message", "hello"}, {}, record("Message", "info", "hello"), "setup\n", ""},
      // The toolkit takes its options, but the saved command line keeps them.
      {{"show", "1", "T", "text", "--display", display, "-input", "x"}, {"DISPLAY"},
       record("T", "info", "text"), "setup\n--display\n" + display + "\n-input\nx\n", ""},
      // A display that failed once is not tried again.
      {{"retry", "3", "Error", "twice"}, {}, "", "setup\n", "Error: twice\nError: twice\n"},
  };
  const struct { const char *kind, *type, *title; std::string text; } kinds[] = {
      {"0", "info", "Zero", "kind 0"},        {"2", "warning", "Two", "kind 2"},
      {"3", "error", "Three", "kind 3"},      {"4", "info", "Four", "kind 4"},
      {"-1", "info", "Minus", "kind -1"},     {"3", "error", "Error", "%s %d %n %x %%"},
      {"3", "error", "Error", "<b>not markup</b> & more"},
      {"1", "info", "Message", ""},           {"1", "info", "", "no title"},
      {"1", "info", "Long", std::string(5000, 'x')},
  };
  for (const auto& k : kinds) {
    cases.push_back({{"show", k.kind, k.title, k.text}, {}, record(k.title, k.type, k.text), "setup\n", ""});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args.back().substr(0, 40));
    Package package;
    Args argv = {DIALOG_TEST_DRIVER};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    RunResult result = package.run(argv, c.env);
    EXPECT_EQ(0, result.status) << result.err;
    EXPECT_EQ(c.report, readFile(package.report));
    EXPECT_EQ(c.out, result.out);
    // GTK may warn on standard error while it shows a dialog.
    if (c.report.empty()) {
      EXPECT_EQ(c.err, result.err);
    }
  }
}

// Runs that show no dialog: the message, if any, goes to standard error and
// the status stands. The toolkit is loaded only to show a message.
TEST_F(DialogNone, FallsBackToStandardErrorAndLoadsTheToolkitOnlyForAMessage) {
  const std::string error = std::string("Error: ") + kInstallFailedText + "\n";
  const std::string fake = std::filesystem::path(DIALOG_TEST_FAKE_TOOLKIT).parent_path();
  const struct {
    Args args, env;
    int agentStatus;  // -1: no agent installed
    int status;
    std::string err;
    bool loadsToolkit;
  } cases[] = {
      {{"-silent"}, {}, -1, 3, "", false},
      {{"-wait"}, {"DISPLAY"}, 7, 7, "", false},  // the agent waited for
      {{}, {"DISPLAY"}, 5, 5, "", false},         // the agent in place of the launcher
      {{}, {"DISPLAY"}, -1, 3, error, true},
      {{"-help"}, {"DISPLAY"}, -1, 0, std::string("Usage:: ") + kUsageText + "\n", true},
      {{}, {"DISPLAY=:65000"}, -1, 3, error, true},  // cannot be opened
      {{}, {"DISPLAY="}, -1, 3, error, true},
      // A library under the toolkit's name that lacks the dialog functions.
      {{}, {"LD_LIBRARY_PATH=" + fake}, -1, 3, error, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE((c.env.empty() ? "" : c.env[0]) + " " + std::to_string(c.status));
    Package package;
    if (c.agentStatus >= 0) package.installAgent(c.agentStatus);
    std::string trace = package.root / "ld";
    Args env = {"LD_DEBUG=libs", "LD_DEBUG_OUTPUT=" + trace};
    env.insert(env.end(), c.env.begin(), c.env.end());
    RunResult result = package.launch(c.args, env);
    EXPECT_EQ(c.status, result.status) << result.err;
    EXPECT_EQ(c.err, result.err);
    EXPECT_FALSE(std::filesystem::exists(package.report));
    // The loader writes one file per process, named after its process id.
    std::string loads = readFile(trace + "." + std::to_string(result.pid));
    ASSERT_NE("", loads) << "no loader trace";
    EXPECT_EQ(c.loadsToolkit, loads.find("libgtk") != std::string::npos);
  }
}

}  // namespace
