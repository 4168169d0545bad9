// Real message dialogs, read back from inside the process under test by the
// dialog_probe GTK module, on the display that with-xvfb.sh or with-weston.sh
// provides.
//
// The environment says what is tested; CTest sets it for every combination,
// and the defaults are the 64-bit launcher with GTK 2:
//   DIALOG_TEST_LAUNCHER      the launcher binary
//   DIALOG_TEST_PROBE         the probe module built for the launcher's
//                             architecture and the toolkit expected to show
//                             the dialogs
//   DIALOG_TEST_TOOLKIT       that toolkit's major version, 2 or 3
//   DIALOG_TEST_HIDE_GTK2     when set, GTK 2 cannot be loaded
//   DIALOG_TEST_FAKE_TOOLKIT  helper libraries built for the launcher's
//   DIALOG_TEST_TRACE_MODULE  architecture
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

std::string setting(const char* name, const char* fallback) {
  const char* value = getenv(name);
  return value && *value ? value : fallback;
}
const std::string kLauncher = setting("DIALOG_TEST_LAUNCHER", DIALOG_TEST_DEFAULT_LAUNCHER);
const std::string kProbe = setting("DIALOG_TEST_PROBE", DIALOG_TEST_DEFAULT_PROBE);
const std::string kToolkit = setting("DIALOG_TEST_TOOLKIT", "2");
const std::string kFakeToolkit = setting("DIALOG_TEST_FAKE_TOOLKIT", DIALOG_TEST_DEFAULT_FAKE_TOOLKIT);
const std::string kTraceModule = setting("DIALOG_TEST_TRACE_MODULE", DIALOG_TEST_DEFAULT_TRACE_MODULE);
const bool kHideGtk2 = getenv("DIALOG_TEST_HIDE_GTK2") != nullptr;

// A folder for LD_LIBRARY_PATH with files under the toolkits' library names
// that are not libraries: GTK 2's alone, or (`both`) GTK 3's as well.
std::string unloadableToolkits(bool both) {
  static TempDir folder;
  std::string dir = folder / (both ? "both" : "gtk2");
  writeFile(dir + "/libgtk-x11-2.0.so.0", "not a library\n");
  if (both) writeFile(dir + "/libgtk-3.so.0", "not a library\n");
  return dir;
}

// One dialog as the probe module reports it.
std::string record(const std::string& title, const std::string& type, const std::string& text) {
  std::string label;
  for (char c : text) label += c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
  return "dialog\ntoolkit=" + kToolkit + "\ntitle=" + title + "\ntype=" + type + "\nlabel=" + label +
         "\nbutton=Close\nend\n";
}

// The loader's record (LD_DEBUG=libs) of the process `pid`, written to
// `trace`.<pid>.
std::string loads(const std::string& trace, int pid) { return readFile(trace + "." + std::to_string(pid)); }

// A launcher package with a home folder, and an INI file naming `location`
// as the installer, which ends with status 3.
struct Package {
  TempDir root;
  std::string dir = root / "package", home = root / "home", report = root / "report.txt";
  std::string moduleTrace = root / "module-loaded";

  explicit Package(const char* location = "inst.sh") {
    std::filesystem::create_directories(home);
    writeFile(dir + "/inst.sh", "#!/bin/sh\nexit 3\n", true);
    std::filesystem::copy_file(kLauncher, dir + "/setup");
    if (location) {
      // Not admin, so that the key lies under the home folder for root too.
      writeFile(dir + "/setup.ini", "[INSTALLER]\nLOCATION=" + std::string(location) +
                                        "\n[MANAGER]\nVERSION=1.0.0\nLOCATION_KEY=agent.key\nLAUNCHER=agent\n"
                                        "[COMMON]\nISADMIN=false\n");
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
    Args all = {"HOME=" + home, "GTK_MODULES=" + kProbe, "DIALOG_PROBE_REPORT=" + report,
                "DIALOG_PROBE_SHOT", "DIALOG_TRACE_FILE=" + moduleTrace, "LANG=C", "LC_ALL",
                "LC_MESSAGES", "LANGUAGE", "LD_DEBUG", "LD_LIBRARY_PATH",
                // GTK 3 would look for the accessibility bus, which no test runs.
                "NO_AT_BRIDGE=1",
                // The toolkit's own allocations are not ours to judge.
                "ASAN_OPTIONS=detect_leaks=0"};
    if (kHideGtk2) all.push_back("LD_LIBRARY_PATH=" + unloadableToolkits(false));
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
    ASSERT_TRUE(std::filesystem::exists(kProbe)) << "probe module missing: " << kProbe;
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
      // The command line is the agent's business: the toolkit must not load
      // a module that it names.
      {"inst.sh", {"-managerArgs", "--gtk-module=" + kTraceModule}, 3,
       record("Error", "error", kInstallFailedText)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dialog);
    Package package(c.location);
    RunResult result = package.launch(c.args);
    EXPECT_EQ(c.status, result.status) << result.err;
    std::string dialog = c.dialog;
    if (dialog.find("@DIR@") != std::string::npos) dialog.replace(dialog.find("@DIR@"), 5, package.dir);
    EXPECT_EQ(dialog, readFile(package.report)) << result.err;
    EXPECT_FALSE(std::filesystem::exists(package.moduleTrace));
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

// The catalogue has already chosen English for a locale that is not
// installed; the toolkit must not set the locale again and complain.
TEST_F(DialogTranslated, AnUninstalledLocaleGivesEnglishAndNoComplaint) {
  Package package;
  RunResult result = package.launch({}, {"LANG=xx_YY.UTF-8"});
  EXPECT_EQ(3, result.status);
  EXPECT_EQ(record("Error", "error", kInstallFailedText), readFile(package.report));
  EXPECT_EQ(std::string::npos, result.err.find("Locale not supported")) << result.err;
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
      // The toolkit gets none of the command line, not even a display to
      // open, and the saved command line stays whole.
      {{"show", "1", "T", "text", "--display", display, "-input", "x"}, {"DISPLAY"}, "",
       "setup\n--display\n" + display + "\n-input\nx\n", "T: text\n"},
      // A display that failed once is not tried again.
      {{"retry", "3", "Error", "twice"}, {}, "", "setup\n", "Error: twice\nError: twice\n"},
      // Standard error: one separator after the title, one line end.
      {{"show", "1", "Usage:", "u"}, {"DISPLAY"}, "", "setup\n", "Usage: u\n"},
      {{"show", "1", "用法：", "u"}, {"DISPLAY"}, "", "setup\n", "用法： u\n"},
      {{"show", "3", "", "Cannot open INI file: /x\n"}, {"DISPLAY"}, "", "setup\n", "Cannot open INI file: /x\n"},
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
// the status stands. A toolkit is loaded only to show a message, and only
// where a display can show it.
TEST_F(DialogNone, FallsBackToStandardErrorAndLoadsTheToolkitOnlyForAMessage) {
  const std::string error = std::string("Error: ") + kInstallFailedText + "\n";
  const std::string fake = std::filesystem::path(kFakeToolkit).parent_path();
  const struct {
    const char* location;  // null: no setup.ini at all
    Args args, env;
    int agentStatus;  // -1: no agent installed
    int status;
    std::string err;  // @DIR@ is the package directory
    bool loadsToolkit;
  } cases[] = {
      {"inst.sh", {"-silent"}, {}, -1, 3, "", false},
      {"inst.sh", {"-wait"}, {"DISPLAY"}, 7, 7, "", false},  // the agent waited for
      {"inst.sh", {}, {"DISPLAY"}, 5, 5, "", false},         // the agent in place of the launcher
      {"inst.sh", {}, {"DISPLAY"}, -1, 3, error, false},
      {"inst.sh", {"-help"}, {"DISPLAY"}, -1, 0, std::string("Usage: ") + kUsageText + "\n", false},
      {nullptr, {}, {"DISPLAY"}, -1, 1, "Cannot open INI file: @DIR@/setup.ini\n", false},
      {"inst.sh", {}, {"DISPLAY=:65000"}, -1, 3, error, false},  // cannot be opened
      {"inst.sh", {}, {"DISPLAY="}, -1, 3, error, false},
      // A library under GTK 2's name that lacks the dialog functions: GTK 3
      // must not join it in the process.
      {"inst.sh", {}, {"LD_LIBRARY_PATH=" + fake}, -1, 3, error, true},
      {"inst.sh", {}, {"LD_LIBRARY_PATH=" + unloadableToolkits(true)}, -1, 3, error, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE((c.env.empty() ? "" : c.env[0]) + " " + std::to_string(c.status));
    Package package(c.location);
    if (c.agentStatus >= 0) package.installAgent(c.agentStatus);
    std::string trace = package.root / "ld";
    Args env = {"LD_DEBUG=libs", "LD_DEBUG_OUTPUT=" + trace};
    env.insert(env.end(), c.env.begin(), c.env.end());
    RunResult result = package.launch(c.args, env);
    EXPECT_EQ(c.status, result.status) << result.err;
    std::string err = c.err;
    if (err.find("@DIR@") != std::string::npos) err.replace(err.find("@DIR@"), 5, package.dir);
    EXPECT_EQ(err, result.err);
    EXPECT_FALSE(std::filesystem::exists(package.report));
    // The loader writes one file per process, named after its process id.
    std::string loaded = loads(trace, result.pid);
    ASSERT_NE("", loaded) << "no loader trace";
    EXPECT_EQ(c.loadsToolkit, loaded.find("libgtk") != std::string::npos);
  }
}

// A Wayland session, without X or with an X display that does not open:
// GTK 2 could not show the dialog there and is never loaded; GTK 3 shows it.
TEST(DialogWayland, Gtk3ShowsTheDialogAndGtk2IsNeverLoaded) {
  const char* wayland = getenv("WAYLAND_DISPLAY");
  ASSERT_TRUE(wayland && *wayland) << "no WAYLAND_DISPLAY: run through tests/dialog/with-weston.sh";
  ASSERT_EQ(nullptr, getenv("DISPLAY"));
  for (const Args& env : {Args{}, Args{"DISPLAY=:65000"}}) {
    SCOPED_TRACE(env.empty() ? "no DISPLAY" : env[0]);
    Package package;
    std::string trace = package.root / "ld";
    Args all = {"LD_DEBUG=libs", "LD_DEBUG_OUTPUT=" + trace};
    all.insert(all.end(), env.begin(), env.end());
    RunResult result = package.launch({}, all);
    EXPECT_EQ(3, result.status) << result.err;
    EXPECT_EQ(record("Error", "error", kInstallFailedText), readFile(package.report)) << result.err;
    std::string loaded = loads(trace, result.pid);
    EXPECT_EQ(std::string::npos, loaded.find("libgtk-x11-2.0")) << "GTK 2 was loaded";
    EXPECT_NE(std::string::npos, loaded.find("libgtk-3.so.0")) << "GTK 3 was not loaded";
  }
}

}  // namespace
