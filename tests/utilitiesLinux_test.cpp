// The platform layer: home directory, directory creation, location keys,
// the child runner and its environment.
#include "files.h"
#include "utilitiesLinux.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_support.h"

namespace {

unsigned modeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}
int sh(const std::string& script) { return runProgram("/bin/sh", {"sh", "-c", script}); }

}  // namespace

TEST(PlatformTest, IsFileAbsolute) {
  const std::pair<const char*, int> cases[] = {{"/", 1}, {"opt/x", 0}, {"", 0}, {"C:/x", 0}};
  for (const auto& c : cases) EXPECT_EQ(c.second, isFileAbsolute(c.first)) << c.first;
}

TEST(HomeDirTest, FromHomeElsePasswordDatabase) {
  std::string dst;
  {
    ScopedEnv home("HOME", "/usr");  // root's own, so it counts for root too
    EXPECT_EQ(0, getAppDataDir(&dst, 0));
    EXPECT_EQ("/usr", dst);
    EXPECT_EQ(0, getAppDataDir(&dst, 1));
    EXPECT_EQ("/etc", dst);
  }
  ASSERT_NE(nullptr, getpwuid(getuid()));
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    ScopedEnv home("HOME", value);
    EXPECT_EQ(0, getHomeDir(&dst));
    EXPECT_EQ(getpwuid(getuid())->pw_dir, dst);
  }
}

TEST(HomeDirDeathTest, NoHomeAtAllFindsNoPerUserFile) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to take an unknown user id";
  TempDir t;
  ASSERT_EQ(0, chmod(t.path.c_str(), 0777));
  EXPECT_EXIT(
      {
        unsetenv("HOME");
        if (chdir(t.path.c_str()) != 0 || setuid(54321) != 0) _exit(10);  // not in passwd
        std::string dst = "unchanged";
        if (getHomeDir(&dst) != -1 || !dst.empty()) _exit(11);
        dst = "unchanged";
        if (getRegValue("key", KEY_TYPE_USER, "location", &dst) != -1 || dst != "unchanged") _exit(12);
        if (setRegValue("key", KEY_TYPE_USER, "location", "/x") != -1) _exit(13);
        _exit(access("key", F_OK) == 0 || access("/key", F_OK) == 0 ? 14 : 0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(MkdirPTest, CreatesEveryComponentAfterTheFirst) {
  TempDir t;
  umask(022);
  EXPECT_EQ(0, mkdir_p(t / "a/b/c/", 0750));
  EXPECT_EQ(0750u, modeOf(t / "a/b/c"));
  EXPECT_EQ(0, mkdir_p(t / "a/b/c", 0700));  // existing
  EXPECT_EQ(0, mkdir_p(t / "d/e", 04777));
  EXPECT_EQ(0755u, modeOf(t / "d/e"));  // the nine permission bits, less the umask

  ScopedCwd cwd(t.path);
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, mkdir_p("x/y/", 0700));  // the first component is never created
  EXPECT_EQ(1, mkdir_p("/dev/null/x/y", 0700));
  EXPECT_EQ("Error when creating directory: x/y\nError when creating directory: /dev/null/x\n",
            testing::internal::GetCapturedStdout());
  ASSERT_EQ(0, mkdir("x", 0700));
  EXPECT_EQ(0, mkdir_p("x/y/", 0700));
  EXPECT_EQ(0700u, modeOf("x/y"));
  EXPECT_EQ(0, mkdir_p("plain", 0700));
  EXPECT_EQ(0u, modeOf("plain"));
}

TEST(RegValueTest, KeyTypes) {
  TempDir t;
  ScopedEnv home("HOME", t.path.c_str());
  writeFile(t / "x/y", "location=/opt/user\n");
  writeFile(t / "machine", "location=/opt/machine\n");
  std::string dst;
  EXPECT_EQ(0, getRegValue("x/y", KEY_TYPE_USER, "location", &dst));
  EXPECT_EQ("/opt/user", dst);
  EXPECT_EQ(0, getRegValue(t / "machine", KEY_TYPE_MACHINE, "location", &dst));
  EXPECT_EQ("/opt/machine", dst);
  dst = "unchanged";
  EXPECT_EQ(-1, getRegValue("missing", KEY_TYPE_USER, "location", &dst));
  EXPECT_EQ("unchanged", dst);
  EXPECT_EQ(-1, getRegValue("x/y", KEY_TYPE_USER, "version", &dst));
  EXPECT_EQ("", dst);
  EXPECT_EQ(0, setRegValue(".agent/key", KEY_TYPE_USER, "location", "/opt/a"));
  EXPECT_EQ("location=/opt/a\n", readFile(t / ".agent/key"));
  EXPECT_EQ(0, setRegValue(t / "m/key", KEY_TYPE_MACHINE, "version", "1.0"));
  EXPECT_EQ("version=1.0\n", readFile(t / "m/key"));

  testing::internal::CaptureStdout();
  for (int type : {0, 3}) {
    dst = "unchanged";
    EXPECT_EQ(-1, getRegValue(t / "machine", type, "location", &dst));
    EXPECT_EQ("unchanged", dst);
    EXPECT_EQ(-1, setRegValue(t / "machine", type, "location", "/x"));
  }
  EXPECT_EQ(-1, setRegValue("/dev/null/key", KEY_TYPE_MACHINE, "k", "v"));
  EXPECT_EQ("Invalid Key Type\nInvalid Key Type\nInvalid Key Type\nInvalid Key Type\n"
            "error in fopen\nError saving registry Key\n",
            testing::internal::GetCapturedStdout());
  EXPECT_EQ("location=/opt/machine\n", readFile(t / "machine"));
}

TEST(RunProgramTest, ExitStatuses) {
  const std::pair<const char*, int> cases[] = {
      {"exit 0", 0}, {"exit 232", 232}, {"exit 256", 0}, {"kill -TERM $$", 143}, {"kill -KILL $$", 137}};
  for (const auto& c : cases) EXPECT_EQ(c.second, sh(c.first)) << c.first;
  EXPECT_EQ(255, runProgram("", {""}));
  EXPECT_EQ(255, runProgram("/nonexistent/program", {"program"}, "fr"));
  EXPECT_EQ(3, runProgram("/bin/sh", {"sh", "-c", "exit $#", "zero", "a", "", "c d"}));

  // A child that cannot start must not write the parent's buffered output again.
  FILE* file = tmpfile();
  ASSERT_NE(nullptr, file);
  fputs("before\n", file);
  EXPECT_EQ(255, runProgram("/nonexistent/program", {"program"}));
  fputs("after\n", file);
  rewind(file);
  char buffer[64] = {};
  EXPECT_EQ(std::string("before\nafter\n"), std::string(buffer, fread(buffer, 1, sizeof buffer, file)));
  fclose(file);
}

TEST(RunProgramTest, TellsAFailedStartFromAStatusOf255) {
  int execErrno = -1;
  EXPECT_EQ(255, runProgram("/bin/sh", {"sh", "-c", "exit 255"}, &execErrno));
  EXPECT_EQ(0, execErrno);
  EXPECT_EQ(255, runProgram("/nonexistent/program", {"program"}, "fr", &execErrno));
  EXPECT_EQ(ENOENT, execErrno);
  EXPECT_EQ(-1, replaceProgram("/dev/null", {"null"}, &execErrno));
  EXPECT_EQ(EACCES, execErrno);
}

TEST(RunProgramTest, LanguageReachesOnlyTheChild) {
  ScopedEnv lang("LANG", "en_US.UTF-8"), language("LANGUAGE", "de");
  EXPECT_EQ(0, runProgram("/bin/sh", {"sh", "-c", "test \"$LANG\" = fr && test \"$LANGUAGE\" = de"}, "fr"));
  EXPECT_EQ(0, sh("test \"$LANG\" = en_US.UTF-8"));
  ScopedEnv none("LANG", nullptr);
  EXPECT_EQ(0, runProgram("/bin/sh", {"sh", "-c", "test -z \"${LANG+set}\""}, "fr"));
}

TEST(EnvironmentWithLangTest, ReplacesEveryLangEntryAndAddsNone) {
  using Env = std::vector<std::string>;
  auto withLang = [](const Env& in) {
    std::vector<char*> env;
    for (const std::string& entry : in) env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);
    return environmentWithLang(env.data(), "fr");
  };
  const std::pair<Env, Env> cases[] = {
      {{"A=1", "LANG=en_US.UTF-8", "LANG="}, {"A=1", "LANG=fr", "LANG=fr"}},
      {{"LANGUAGE=de", "LC_ALL=C", "lang=x", "LANG"}, {"LANGUAGE=de", "LC_ALL=C", "lang=x", "LANG"}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, withLang(c.first));
  EXPECT_TRUE(environmentWithLang(nullptr, "fr").empty());
  // Added variables come last, in place of inherited ones of the same name;
  // no language leaves LANG alone.
  std::vector<std::string> in = {"Q_A=old", "LANG=C", "Q_AB=keep", "Q_A"};
  std::vector<char*> env;
  for (std::string& entry : in) env.push_back(&entry[0]);
  env.push_back(nullptr);
  EXPECT_EQ(Env({"LANG=C", "Q_AB=keep", "Q_A", "Q_A=new", "Q_B="}),
            environmentWithLang(env.data(), "", {"Q_A=new", "Q_B="}));
  Env many;
  for (int i = 0; i < 5000; ++i) many.push_back("V" + std::to_string(i) + "=x");
  many.back() = "LANG=C";
  Env result = withLang(many);
  ASSERT_EQ(5000u, result.size());
  EXPECT_EQ("V4998=x", result[4998]);
  EXPECT_EQ("LANG=fr", result[4999]);
}
